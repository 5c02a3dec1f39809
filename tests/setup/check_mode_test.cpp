#include "setup/check_mode.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(CheckMode, OnlyACheckArgumentAsksForACheck) {
  using M = CheckMode;
  using E = CheckArgsError;
  const struct {
    std::vector<std::string> args;
    M mode;
    E error;
    const char* value;
    const char* bad_argument;
    const char* days = nullptr;  // nullptr: not given
    const char* reboot_at = nullptr;
  } cases[] = {
      {{}, M::kNone, E::kNone, "", ""},
      {{"/S"}, M::kNone, E::kNone, "", ""},  // the launcher has always ignored its arguments
      {{"--save"}, M::kNone, E::kNone, "", ""},
      {{"--check-allow=10.0.0.1, 10.0.0.2"}, M::kAllow, E::kNone, "10.0.0.1, 10.0.0.2", ""},
      {{"--check-allow="}, M::kAllow, E::kNone, "", ""},
      {{"--check-key=04ab"}, M::kKey, E::kNone, "04ab", ""},
      {{"--check-ini=C:\\hall.ini"}, M::kIni, E::kNone, "C:\\hall.ini", ""},
      {{"--check-folder=C:\\QyrNOR\\QyrDelay"}, M::kFolder, E::kNone, "C:\\QyrNOR\\QyrDelay", ""},
      {{"--secure-folder=C:\\QyrNOR"}, M::kSecureFolder, E::kNone, "C:\\QyrNOR", ""},
      // A list split by an unquoted blank is refused, never read in half.
      {{"--check-allow=10.0.0.1,", "10.0.0.2"},
       M::kAllow,
       E::kExtraArgument,
       "10.0.0.1,",
       "10.0.0.2"},
      {{"--check-allow", "10.0.0.1"}, M::kAllow, E::kNoValue, "", "--check-allow"},
      {{"--secure-folder"}, M::kSecureFolder, E::kNoValue, "", "--secure-folder"},
      {{"--check-alow=10.0.0.1"}, M::kUnknown, E::kUnknownCheck, "", "--check-alow=10.0.0.1"},
      {{"--check-power=22:30"}, M::kPower, E::kNone, "22:30", ""},
      {{"--check-power=22:30", "--days=1-5, 7", "--reboot-at="},
       M::kPower,
       E::kNone,
       "22:30",
       "",
       "1-5, 7",
       ""},
      {{"--check-power=7:00", "--reboot-at=6:30", "--days="},
       M::kPower,
       E::kNone,
       "7:00",
       "",
       "",
       "6:30"},
      {{"--check-power=22:30", "--days=1-5,", "7"},
       M::kPower,
       E::kExtraArgument,
       "22:30",
       "7",
       "1-5,"},
      // Given twice, the one meant is unknown.
      {{"--check-power=22:30", "--days=1", "--days=2"},
       M::kPower,
       E::kExtraArgument,
       "22:30",
       "--days=2",
       "1"},
      {{"--check-power=22:30", "--days"}, M::kPower, E::kNoValue, "22:30", "--days"},
      {{"--check-allow=10.0.0.1", "--days=1"},
       M::kAllow,
       E::kExtraArgument,
       "10.0.0.1",
       "--days=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
    const CheckRequest request = ParseCheckRequest(c.args);
    EXPECT_EQ(request.mode, c.mode);
    EXPECT_EQ(request.value, c.value);
    EXPECT_EQ(request.error, c.error);
    EXPECT_EQ(request.bad_argument, c.bad_argument);
    EXPECT_EQ(request.days, c.days ? std::optional<std::string>(c.days) : std::nullopt);
    EXPECT_EQ(request.reboot_at,
              c.reboot_at ? std::optional<std::string>(c.reboot_at) : std::nullopt);
    EXPECT_EQ(ArgsErrorOutcome(request).exit_code, c.error == E::kNone ? 0 : 2);
  }
}

TEST(CheckMode, AllowListPassesOnlyWhenItRestricts) {
  const struct {
    const char* list;
    int exit_code;
    const char* line;
  } cases[] = {
      {"10.0.0.1", 0, nullptr},
      {"10.0.0.1, 10.0.0.0/8", 0, nullptr},
      {"", 2, "invalid AllowFrom list: it is empty, which would allow everyone"},
      {"  ", 2, "invalid AllowFrom list: it is empty, which would allow everyone"},
      {"10.0.0.1,", 2, "invalid AllowFrom entry: an empty one (a stray comma)"},
      {"10.0.0.1 10.0.0.2", 2,
       "invalid AllowFrom entry \"10.0.0.1 10.0.0.2\": not an IPv4 address"},
      {"\"10.0.0.1\"", 2, "invalid AllowFrom entry \"\"10.0.0.1\"\": not an IPv4 address"},
      // A full-width comma, as a Chinese input method types it.
      {"10.0.0.1，10.0.0.2", 2,
       "invalid AllowFrom entry \"10.0.0.1，10.0.0.2\": not an IPv4 address"},
      {"10.0.0.0/33", 2, "invalid AllowFrom entry \"10.0.0.0/33\": bad prefix length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    const CheckOutcome outcome = CheckAllowList(c.list);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(outcome.lines,
              c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
}

TEST(CheckMode, HallKeyPassesOnlyInTheFormSignedByReads) {
  const std::string x = "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";
  const std::string y = "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5";
  const struct {
    std::string key;
    const char* line;  // nullptr: passed
  } cases[] = {
      {"04" + x + y, nullptr},
      {" 04" + x + y + " ", nullptr},
      {"04" + y + x, "invalid SignedBy key: not a point of the P-256 curve (a digit changed?)"},
      {"04zz",
       "invalid SignedBy key \"04zz\": not 130 hex digits starting with 04 (the hall.pub "
       "of qyrsend keygen)"},
      {"",
       "invalid SignedBy key \"\": not 130 hex digits starting with 04 (the hall.pub of "
       "qyrsend keygen)"},
  };
  for (const auto& c : cases) {
    const CheckOutcome outcome = CheckHallKey(c.key);
    EXPECT_EQ(outcome.exit_code, c.line ? 2 : 0) << c.key;
    EXPECT_EQ(outcome.lines,
              c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
}

TEST(CheckMode, APreparedSettingsFilePassesOnlyWhenEveryEntryIsTakenAsMeant) {
  const std::string key =
      "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a7c"
      "0f"
      "9e162bce33576b315ececbb6406837bf51f5";
  const std::string good =
      "[AUTORUN]\r\nFile0=C:\\Player\\QyrPlayer_V3.exe\r\nDelay0=10\r\n"
      "Restart0=30\r\nFile1=\r\n[REMOTE]\r\nAllowFrom=10.0.0.0/8\r\nUdp=0\r\n"
      "SignedBy=" +
      key + "\r\n[POWER]\r\nOffAt=22:30\r\nDays=1-5\r\n";
  const struct {
    std::string text;
    std::optional<std::string> line;  // none: passed
  } cases[] = {
      {good, std::nullopt},
      {"", std::nullopt},
      {good + "[REMOTE]\r\nAllowFrom=\r\n", "invalid settings: [REMOTE] given twice"},
      {"[AUTORUN]\r\nFile0=a.exe\r\nfile0=b.exe\r\n",
       "invalid settings: file0 given twice in [AUTORUN]"},
      {"[AUTORUN]\r\nFile2=C:\\" + std::string(300, 'x') + ".exe\r\n",
       "invalid File2 entry \"C:\\" + std::string(300, 'x') +
           ".exe\": longer than the system can "
           "start (259 characters)"},
      {"[AUTORUN]\r\nDelay3=10s\r\n",
       "invalid Delay3 entry \"10s\": not a whole number of seconds"},
      {"[AUTORUN]\r\nRestart1=-5\r\n",
       "invalid Restart1 entry \"-5\": not a whole number of seconds, 0 or more"},
      {"[REMOTE]\r\nAllowFrom=10.0.0.300\r\n",
       "invalid AllowFrom entry \"10.0.0.300\": not an IPv4 address"},
      {"[REMOTE]\r\nSignedBy=04ab\r\n",
       "invalid SignedBy key \"04ab\": not 130 hex digits starting with 04 (the hall.pub of "
       "qyrsend "
       "keygen)"},
      {"[REMOTE]\r\nUdp=off\r\n", "invalid Udp entry \"off\": not a number (0 is off)"},
      {"[POWER]\r\nOffAt=25:00\r\n",
       "invalid OffAt entry \"25:00\": the hour is past 23 or the minute past 59"},
      {"[POWER]\r\nDays=1-5\r\n", std::nullopt},
  };
  for (const auto& c : cases) {
    const CheckOutcome outcome = CheckSettingsFile(c.text);
    EXPECT_EQ(outcome.exit_code, c.line ? 2 : 0) << c.text;
    EXPECT_EQ(outcome.lines,
              c.line ? std::vector<std::string>{*c.line} : std::vector<std::string>{})
        << c.text;
  }
}

TEST(CheckMode, PowerClockPassesOnlyWhenTheProgramWouldRunIt) {
  const struct {
    const char* off_at;
    std::optional<std::string_view> days;
    const char* reboot_at;  // as the settings file keeps it
    const char* line;       // nullptr: passed
  } cases[] = {
      {"22:30", std::nullopt, "", nullptr},
      {"7:05", "1-5, 7", "6:30", nullptr},
      {"", "1-5", "", "invalid OffAt time: it is empty, which would power nothing off"},
      {"22:30", " ", "", "invalid Days list: it is empty; leave it out for every day"},
      {"24:00", std::nullopt, "",
       "invalid OffAt entry \"24:00\": the hour is past 23 or the minute past 59"},
      {"22.30", std::nullopt, "",
       "invalid OffAt entry \"22.30\": not a 24-hour time H:MM or HH:MM"},
      {"22:30", "1-5, 8", "", "invalid Days entry \"8\": weekdays are 1 (Monday) to 7 (Sunday)"},
      {"22:30", "1-5,", "", "invalid Days entry: an empty one (a stray comma)"},
      // A full-width comma, as a Chinese input method types it.
      {"22:30", "1，3", "",
       "invalid Days entry \"1，3\": not a weekday number or a range such as 1-5"},
      {"22:30", "5-1", "", "invalid Days entry \"5-1\": a range that runs backwards"},
      // The RebootAt already in the file is read with the new OffAt: a clash turns both off.
      {"22:30", std::nullopt, "22:30",
       "invalid RebootAt entry \"22:30\": the same minute as OffAt, which turns both off"},
      {"22:30", std::nullopt, "25:00",
       "invalid RebootAt entry \"25:00\": the hour is past 23 or the minute past 59"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.off_at) + "|" + std::string(c.days.value_or("(none)")) + "|" +
                 c.reboot_at);
    const CheckOutcome outcome = CheckPowerClock(c.off_at, c.days, c.reboot_at);
    EXPECT_EQ(outcome.exit_code, c.line ? 2 : 0);
    EXPECT_EQ(outcome.lines,
              c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  }
}

TEST(CheckMode, FoldersBelowTheRoot) {
  const struct {
    const char* path;
    std::vector<std::string> folders;
  } cases[] = {
      {"C:\\QyrNOR\\QyrDelay", {"C:\\QyrNOR", "C:\\QyrNOR\\QyrDelay"}},
      {"d:\\QyrNOR\\", {"d:\\QyrNOR"}},
      {"C:\\a\\\\b", {"C:\\a", "C:\\a\\\\b"}},
      {"C:\\", {}},
      {"\\\\hall-pc\\share\\QyrNOR", {"\\\\hall-pc\\share\\QyrNOR"}},
      {"\\\\?\\C:\\QyrNOR\\x", {"\\\\?\\C:\\QyrNOR", "\\\\?\\C:\\QyrNOR\\x"}},
      {"\\\\?\\UNC\\pc\\s\\QyrNOR", {"\\\\?\\UNC\\pc\\s\\QyrNOR"}},
      {"\\\\pc\\share", {}},
      {"\\\\\\share\\x", {}},
      {"QyrNOR\\QyrDelay", {}},  // no root: refused rather than guessed
      {"C:QyrNOR", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FoldersBelowRoot(c.path), c.folders) << c.path;
  }
}

constexpr const char* kSelf = "S-1-5-21-1-2-3-500";
constexpr std::uint32_t kFull = 0x1F01FF;
constexpr std::uint32_t kReadExecute = 0x1200A9;
constexpr std::uint32_t kModify = 0x1301BF;

// A folder as a new one of this installer's: administrators and SYSTEM full, Users read.
FolderFacts LockedFolder(const char* path) {
  FolderFacts facts;
  facts.path = path;
  facts.exists = true;
  facts.is_folder = true;
  facts.owner = kSidAdministrators;
  facts.entries = {{AccessEntry::Kind::kAllow, false, kFull, kSidAdministrators},
                   {AccessEntry::Kind::kAllow, false, kFull, kSidSystem},
                   {AccessEntry::Kind::kAllow, false, kReadExecute, "S-1-5-32-545"}};
  return facts;
}

TEST(CheckMode, FolderVerdicts) {
  using V = FolderVerdict;
  using K = AccessEntry::Kind;
  const auto with = [](const char* path, auto change) {
    FolderFacts facts = LockedFolder(path);
    change(facts);
    return facts;
  };
  const auto grant = [](K kind, std::uint32_t mask, const char* sid, bool inherit_only = false) {
    return [=](FolderFacts& f) { f.entries.push_back({kind, inherit_only, mask, sid}); };
  };
  const struct {
    FolderFacts facts;
    V verdict;
    const char* named;  // who the line names
  } cases[] = {
      {LockedFolder("C:\\Apps"), V::kSafe, "only administrators"},
      {with("C:\\Apps", [](FolderFacts& f) { f.exists = false; }), V::kNew, "does not exist"},
      // A standard user's folder: their own, and Authenticated Users may modify what C:\ gives.
      {with("C:\\QyrNOR", [](FolderFacts& f) { f.owner = "S-1-5-21-1-2-3-1001"; }), V::kTakeOver,
       "its owner S-1-5-21-1-2-3-1001"},
      {with("C:\\qyrnor_HALL", grant(K::kAllow, kModify, "S-1-5-11")), V::kTakeOver,
       "Authenticated Users (S-1-5-11)"},
      {with("C:\\Apps", grant(K::kAllow, kModify, "S-1-5-11")), V::kRefused,
       "Authenticated Users (S-1-5-11)"},
      // Each of these alone: make things inside, delete inside, rename, change the rights.
      {with("C:\\Apps", grant(K::kAllow, 0x4, "S-1-5-32-545")), V::kRefused, "Users"},
      {with("C:\\Apps", grant(K::kAllow, 0x40, "S-1-1-0")), V::kRefused, "Everyone"},
      {with("C:\\Apps", grant(K::kAllow, 0x10000, "S-1-5-4")), V::kRefused, "INTERACTIVE"},
      {with("C:\\Apps", grant(K::kAllow, 0x40000, "S-1-5-21-1-2-3-1001")), V::kRefused,
       "S-1-5-21-1-2-3-1001"},
      {with("C:\\Apps", grant(K::kAllow, 0x40000000, "S-1-5-32-545")), V::kRefused, "Users"},
      {with("C:\\Apps", [](FolderFacts& f) { f.has_access_list = false; }), V::kRefused,
       "everyone"},
      {with("C:\\Apps", grant(K::kOther, 0, "")), V::kRefused, "unknown kind"},
      {with("C:\\Apps", [](FolderFacts& f) { f.reparse_point = true; }), V::kRefused, "junction"},
      {with("C:\\QyrNOR", [](FolderFacts& f) { f.reparse_point = true; }), V::kRefused, "junction"},
      {with("C:\\QyrNOR", [](FolderFacts& f) { f.is_folder = false; }), V::kRefused,
       "not a folder"},
      {with("C:\\QyrNOR", [](FolderFacts& f) { f.error = 5; }), V::kRefused, "error 5"},
      // No way to change it: rights for what is made inside, a deny, reading and attributes, the
      // trusted accounts.
      {with("C:\\Apps", grant(K::kAllow, kFull, "S-1-3-0", true)), V::kSafe, "only"},
      {with("C:\\Apps", grant(K::kDeny, kFull, "S-1-1-0")), V::kSafe, "only"},
      {with("C:\\Apps", grant(K::kAllow, kReadExecute | 0x110, "S-1-5-32-545")), V::kSafe, "only"},
      {with("C:\\Apps", grant(K::kAllow, kFull, kSidTrustedInstaller)), V::kSafe, "only"},
      {with("C:\\Apps", grant(K::kAllow, kFull, kSelf)), V::kSafe, "only"},
      {with("C:\\Apps", [](FolderFacts& f) { f.owner = kSelf; }), V::kSafe, "only"},
      {with("C:\\Apps", [](FolderFacts& f) { f.owner = kSidTrustedInstaller; }), V::kSafe, "only"},
      // The name is the folder's own, not its parent's.
      {with("C:\\QyrNOR\\Apps", grant(K::kAllow, kModify, "S-1-5-11")), V::kRefused, "S-1-5-11"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts.path);
    const FolderFinding finding = JudgeFolder(c.facts, {kSelf});
    EXPECT_EQ(finding.verdict, c.verdict) << finding.line;
    EXPECT_NE(finding.line.find(c.named), std::string::npos) << finding.line;
    EXPECT_EQ(finding.line.rfind(c.facts.path + ": ", 0), 0u) << finding.line;
  }
}

TEST(CheckMode, PathVerdictAndTakeOver) {
  FolderFacts open = LockedFolder("C:\\QyrNOR");
  open.entries.push_back({AccessEntry::Kind::kAllow, false, kModify, "S-1-5-11"});
  FolderFacts open_other = open;
  open_other.path = "C:\\QyrNOR\\Apps";
  FolderFacts link = LockedFolder("C:\\QyrNOR\\QyrDelay");
  link.reparse_point = true;
  FolderFacts fresh;
  fresh.path = "C:\\QyrNOR\\QyrDelay";
  const struct {
    std::vector<FolderFacts> folders;
    int exit_code;
    std::vector<std::string> take_over;
  } cases[] = {
      {{LockedFolder("C:\\QyrNOR"), fresh}, 0, {}},
      {{open, fresh}, 3, {"C:\\QyrNOR"}},
      // Nothing is taken over when any folder of the path is refused.
      {{open, link}, 2, {}},
      {{open, open_other}, 2, {}},
      {{}, 2, {}},
  };
  for (const auto& c : cases) {
    const CheckOutcome outcome = JudgeFolders("C:\\QyrNOR\\QyrDelay", c.folders, {});
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(outcome.take_over, c.take_over);
    EXPECT_EQ(outcome.lines.size(), c.folders.empty() ? 1 : c.folders.size());
  }

  // Taken over, the path must pass when judged again; a folder still open refuses it.
  const CheckOutcome before = JudgeFolders("C:\\QyrNOR", {open}, {});
  const CheckOutcome passed = JudgeFolders("C:\\QyrNOR", {LockedFolder("C:\\QyrNOR")}, {});
  EXPECT_EQ(AfterTakeOver(before, passed).exit_code, 0);
  EXPECT_EQ(AfterTakeOver(before, passed).lines.size(), 2u);
  EXPECT_EQ(AfterTakeOver(before, before).exit_code, 2);
  EXPECT_EQ(TakeOverLine("C:\\QyrNOR", 5).substr(0, 22), "C:\\QyrNOR: taken over:");
  EXPECT_NE(TakeOverLine("C:\\QyrNOR", 5).find("failed, error 5"), std::string::npos);
}

}  // namespace
}  // namespace qyr
