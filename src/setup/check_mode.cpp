#include "setup/check_mode.h"

#include "base/int_rules.h"
#include "base/text.h"
#include "launch/ini_text.h"
#include "launch/keep_running.h"
#include "launch/schedule.h"
#include "launch/slots.h"
#include "remote/allow_list.h"
#include "remote/power_clock.h"
#include "remote/signed_command.h"

namespace qyr {

namespace {

struct CheckName {
  const char* option;  // with its "="
  CheckMode mode;
};
constexpr CheckName kChecks[] = {
    {"--check-allow=", CheckMode::kAllow},
    {"--check-folder=", CheckMode::kFolder},
    {"--secure-folder=", CheckMode::kSecureFolder},
    {"--check-power=", CheckMode::kPower},
    {"--check-key=", CheckMode::kKey},
    {"--check-ini=", CheckMode::kIni},
};

CheckOutcome Refused(std::string line) {
  CheckOutcome outcome;
  outcome.exit_code = kCheckRefused;
  outcome.lines.push_back(std::move(line));
  return outcome;
}

// The answer for a clock the program would read: passed, or the bad key and entry named.
CheckOutcome ClockOutcome(const PowerClock& clock) {
  const std::string entry = "invalid " + clock.bad_key + " entry \"" + clock.bad_entry + "\": ";
  switch (clock.error) {
    case PowerClockError::kNone:
      return {};
    case PowerClockError::kBadTime:
      return Refused(entry + "not a 24-hour time H:MM or HH:MM");
    case PowerClockError::kTimeOutOfRange:
      return Refused(entry + "the hour is past 23 or the minute past 59");
    case PowerClockError::kSameMinute:
      return Refused(entry + "the same minute as OffAt, which turns both off");
    case PowerClockError::kEmptyDay:
      return Refused("invalid Days entry: an empty one (a stray comma)");
    case PowerClockError::kBadDay:
      return Refused(entry + "not a weekday number or a range such as 1-5");
    case PowerClockError::kDayOutOfRange:
      return Refused(entry + "weekdays are 1 (Monday) to 7 (Sunday)");
    case PowerClockError::kBadRange:
      return Refused(entry + "a range that runs backwards");
  }
  return Refused(entry);
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// Rights that let their holder put another program where the Run value looks: write or create
// inside (FILE_WRITE_DATA, FILE_APPEND_DATA), delete inside (FILE_DELETE_CHILD), delete or
// rename the folder (DELETE), change its rights or owner (WRITE_DAC, WRITE_OWNER), and the
// generic rights that include them.
constexpr std::uint32_t kChangeRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

bool Trusted(const std::string& sid, const TrustedSids& trusted) {
  if (sid == kSidAdministrators || sid == kSidSystem || sid == kSidTrustedInstaller) return true;
  for (const std::string& other : trusted) {
    if (sid == other) return true;
  }
  return false;
}

std::string Account(const std::string& sid) {
  const struct {
    const char* sid;
    const char* name;
  } kKnown[] = {
      {"S-1-5-32-545", "Users"},
      {"S-1-5-11", "Authenticated Users"},
      {"S-1-1-0", "Everyone"},
      {"S-1-5-4", "INTERACTIVE"},
  };
  for (const auto& known : kKnown) {
    if (sid == known.sid) return std::string(known.name) + " (" + sid + ")";
  }
  return sid;
}

std::string_view LastName(std::string_view path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.remove_suffix(1);
  const std::size_t sep = path.find_last_of("\\/");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

// Length of the root of a full path ("C:\", "\\server\share\", with or without "\\?\"), or 0.
std::size_t RootLength(std::string_view path) {
  std::size_t start = 0;
  bool share = false;
  if (StartsWith(path, "\\\\?\\UNC\\")) {
    start = 8;
    share = true;
  } else if (StartsWith(path, "\\\\?\\")) {
    start = 4;
  } else if (StartsWith(path, "\\\\")) {
    start = 2;
    share = true;
  }
  if (!share) {
    const std::string_view drive = path.substr(start);
    const bool letter = !drive.empty() && ((drive[0] >= 'A' && drive[0] <= 'Z') ||
                                           (drive[0] >= 'a' && drive[0] <= 'z'));
    return letter && StartsWith(drive.substr(1), ":\\") ? start + 3 : 0;
  }
  // Server and share: two names, each closed by a backslash (the share's may end the path).
  const std::size_t server_end = path.find('\\', start);
  if (server_end == start || server_end == std::string_view::npos) return 0;
  const std::size_t share_end = path.find('\\', server_end + 1);
  if (share_end == server_end + 1) return 0;
  return share_end == std::string_view::npos ? path.size() : share_end + 1;
}

}  // namespace

CheckRequest ParseCheckRequest(const std::vector<std::string>& args) {
  CheckRequest request;
  if (args.empty()) return request;
  const std::string& first = args.front();
  for (const CheckName& check : kChecks) {
    const std::string_view option(check.option);
    if (StartsWith(first, option)) {
      request.mode = check.mode;
      request.value = first.substr(option.size());
    } else if (first == option.substr(0, option.size() - 1)) {
      request.mode = check.mode;
      request.error = CheckArgsError::kNoValue;
      request.bad_argument = first;
      return request;
    }
  }
  if (request.mode == CheckMode::kNone) {
    if (!StartsWith(first, "--check-")) return request;
    // A check that does not exist must not start the launcher instead.
    request.mode = CheckMode::kUnknown;
    request.error = CheckArgsError::kUnknownCheck;
    request.bad_argument = first;
    return request;
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (request.mode == CheckMode::kPower) {
      const struct {
        std::string_view option;  // with its "="
        std::optional<std::string>& into;
      } follow_ups[] = {{"--days=", request.days}, {"--reboot-at=", request.reboot_at}};
      bool taken = false;
      for (const auto& f : follow_ups) {
        if (arg == f.option.substr(0, f.option.size() - 1)) {
          request.error = CheckArgsError::kNoValue;
          request.bad_argument = arg;
          return request;
        }
        if (StartsWith(arg, f.option) && !f.into) {
          f.into = arg.substr(f.option.size());
          taken = true;
          break;
        }
      }
      if (taken) continue;
    }
    // A blank left out of the quotes splits the value, and a value given twice leaves the one
    // meant unknown: refused, never half read.
    request.error = CheckArgsError::kExtraArgument;
    request.bad_argument = arg;
    return request;
  }
  return request;
}

CheckOutcome ArgsErrorOutcome(const CheckRequest& request) {
  std::string line;
  switch (request.error) {
    case CheckArgsError::kNone:
      return {};
    case CheckArgsError::kUnknownCheck:
      line = "unknown check \"" + request.bad_argument +
             "\": use --check-allow=, --check-folder=, --secure-folder=, --check-power=, "
             "--check-key= or --check-ini=";
      break;
    case CheckArgsError::kNoValue:
      line = "\"" + request.bad_argument + "\" needs its value after \"=\" in the same argument";
      break;
    case CheckArgsError::kExtraArgument:
      line =
          "unexpected argument \"" + request.bad_argument + "\": quote a value that holds blanks";
      break;
  }
  return Refused(line);
}

CheckOutcome CheckAllowList(std::string_view list) {
  if (TrimBlanks(list).empty()) {
    return Refused("invalid AllowFrom list: it is empty, which would allow everyone");
  }
  const AllowList parsed = ParseAllowList(list);
  switch (parsed.error) {
    case AllowListError::kNone:
      return {};
    case AllowListError::kEmptyEntry:
      return Refused("invalid AllowFrom entry: an empty one (a stray comma)");
    case AllowListError::kBadAddress:
      return Refused("invalid AllowFrom entry \"" + parsed.bad_entry + "\": not an IPv4 address");
    case AllowListError::kBadPrefix:
      return Refused("invalid AllowFrom entry \"" + parsed.bad_entry + "\": bad prefix length");
  }
  return Refused("invalid AllowFrom list");
}

CheckOutcome CheckHallKey(std::string_view key) {
  if (ParsePublicKey(key)) return {};
  const std::optional<PublicKey> form = HexDecode<kPublicKeyBytes>(TrimBlanks(key));
  if (form && (*form)[0] == 0x04) {
    return Refused("invalid SignedBy key: not a point of the P-256 curve (a digit changed?)");
  }
  return Refused("invalid SignedBy key \"" + std::string(TrimBlanks(key)) +
                 "\": not 130 hex digits starting with 04 (the hall.pub of qyrsend keygen)");
}

CheckOutcome CheckSettingsFile(std::string_view text) {
  for (const char* section : {kSettingsSection, kRemoteSection, kPowerSection}) {
    if (const std::optional<IniRepeat> repeat = FindRepeat(text, section)) {
      return Refused("invalid settings: " + RepeatLogText(*repeat) +
                     (repeat->key.empty() ? "" : " in [" + repeat->section + "]"));
    }
  }
  const auto value = [&](const char* section, const std::string& key) {
    return GetIniValue(text, section, key).value_or("");
  };
  const auto bad = [](const std::string& key, std::string_view entry, std::string_view why) {
    return Refused("invalid " + key + " entry \"" + std::string(entry) + "\": " + std::string(why));
  };
  for (int i = 0; i < kSlotCount; ++i) {
    const std::string path = value(kSettingsSection, FileKey(i));
    if (!FitsStartPath(path)) {
      return bad(FileKey(i), path, "longer than the system can start (259 characters)");
    }
    const std::string delay = value(kSettingsSection, DelayKey(i));
    if (!TrimBlanks(delay).empty() && !ParseInteger(delay).ok()) {
      return bad(DelayKey(i), delay, "not a whole number of seconds");
    }
    const std::string restart = value(kSettingsSection, RestartKey(i));
    if (ParseRestart(restart).error != RestartError::kNone) {
      return bad(RestartKey(i), restart, "not a whole number of seconds, 0 or more");
    }
  }
  const std::string allow = value(kRemoteSection, "AllowFrom");
  if (!TrimBlanks(allow).empty()) {
    if (CheckOutcome outcome = CheckAllowList(allow); outcome.exit_code != kCheckPassed) {
      return outcome;
    }
  }
  const std::string key = value(kRemoteSection, "SignedBy");
  if (!TrimBlanks(key).empty()) {
    if (CheckOutcome outcome = CheckHallKey(key); outcome.exit_code != kCheckPassed) return outcome;
  }
  for (const char* number : {"Udp", "Log"}) {
    const std::string entry = value(kRemoteSection, number);
    if (!TrimBlanks(entry).empty() && !ParseInteger(entry).ok()) {
      return bad(number, entry, "not a number (0 is off)");
    }
  }
  const PowerClock clock =
      ParsePowerClock(value(kPowerSection, "OffAt"), value(kPowerSection, "RebootAt"),
                      value(kPowerSection, "Days"));
  return ClockOutcome(clock);
}

CheckOutcome CheckPowerClock(std::string_view off_at, std::optional<std::string_view> days,
                             std::string_view reboot_at) {
  if (TrimBlanks(off_at).empty()) {
    return Refused("invalid OffAt time: it is empty, which would power nothing off");
  }
  if (days && TrimBlanks(*days).empty()) {
    return Refused("invalid Days list: it is empty; leave it out for every day");
  }
  const PowerClock clock = ParsePowerClock(off_at, reboot_at, days.value_or(""));
  return ClockOutcome(clock);
}

std::vector<std::string> FoldersBelowRoot(std::string_view path) {
  std::vector<std::string> folders;
  const std::size_t root = RootLength(path);
  if (root == 0) return folders;
  for (std::size_t end = root; end < path.size();) {
    std::size_t next = path.find('\\', end);
    if (next == std::string_view::npos) next = path.size();
    if (next > end) folders.emplace_back(path.substr(0, next));
    end = next + 1;
  }
  return folders;
}

std::string OtherWriter(const FolderFacts& facts, const TrustedSids& trusted) {
  // The owner may always change the rights, whatever they say.
  if (facts.owner.empty()) return "anyone (it has no owner)";
  if (!Trusted(facts.owner, trusted)) return "its owner " + Account(facts.owner);
  if (!facts.has_access_list) return "everyone (it has no access list)";
  for (const AccessEntry& entry : facts.entries) {
    if (entry.inherit_only || entry.kind == AccessEntry::Kind::kDeny) continue;
    if (entry.kind == AccessEntry::Kind::kOther) return "an access entry of an unknown kind";
    if ((entry.mask & kChangeRights) != 0 && !Trusted(entry.sid, trusted)) {
      return Account(entry.sid);
    }
  }
  return {};
}

bool MayTakeOver(std::string_view folder_path) {
  return Contains(AsciiLower(LastName(folder_path)), "qyrnor");
}

FolderFinding JudgeFolder(const FolderFacts& facts, const TrustedSids& trusted) {
  const std::string& path = facts.path;
  if (facts.error != 0) {
    return {FolderVerdict::kRefused, path + ": its attributes or rights cannot be read (error " +
                                         std::to_string(facts.error) + "), refused"};
  }
  if (!facts.exists) return {FolderVerdict::kNew, path + ": does not exist yet"};
  if (facts.reparse_point) {
    return {FolderVerdict::kRefused, path + ": a junction or link, refused"};
  }
  if (!facts.is_folder) return {FolderVerdict::kRefused, path + ": not a folder, refused"};
  const std::string writer = OtherWriter(facts, trusted);
  if (writer.empty()) return {FolderVerdict::kSafe, path + ": only administrators may change it"};
  if (MayTakeOver(path)) {
    return {FolderVerdict::kTakeOver,
            path + ": " + writer + " may change it; its name holds QyrNOR: to be taken over"};
  }
  return {FolderVerdict::kRefused, path + ": " + writer + " may change it, refused"};
}

CheckOutcome JudgeFolders(std::string_view path, const std::vector<FolderFacts>& folders,
                          const TrustedSids& trusted) {
  if (folders.empty()) {
    return Refused(std::string(path) + ": not a full path below a drive or share");
  }
  CheckOutcome outcome;
  bool refused = false;
  for (const FolderFacts& facts : folders) {
    FolderFinding finding = JudgeFolder(facts, trusted);
    refused = refused || finding.verdict == FolderVerdict::kRefused;
    if (finding.verdict == FolderVerdict::kTakeOver) outcome.take_over.push_back(facts.path);
    outcome.lines.push_back(std::move(finding.line));
  }
  if (refused) {
    outcome.exit_code = kCheckRefused;
    outcome.take_over.clear();
  } else if (!outcome.take_over.empty()) {
    outcome.exit_code = kCheckTakeOver;
  }
  return outcome;
}

std::string TakeOverLine(std::string_view folder_path, unsigned long error) {
  return std::string(folder_path) +
         ": taken over: owner Administrators; Administrators and SYSTEM full control, Users read "
         "and execute, nothing inherited -> " +
         (error == 0 ? std::string("done") : "failed, error " + std::to_string(error));
}

CheckOutcome AfterTakeOver(CheckOutcome before, const CheckOutcome& after) {
  before.lines.insert(before.lines.end(), after.lines.begin(), after.lines.end());
  before.exit_code = after.exit_code == kCheckPassed ? kCheckPassed : kCheckRefused;
  before.take_over.clear();
  return before;
}

}  // namespace qyr
