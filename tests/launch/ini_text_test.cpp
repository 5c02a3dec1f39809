#include "launch/ini_text.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

// The eight keys a Save writes, in its order.
std::vector<IniValue> SavedValues() {
  return {{"File0", "C:\\x.exe"}, {"Delay0", "10"}, {"File1", ""}, {"Delay1", "15"},
          {"File2", ""},          {"Delay2", "20"}, {"File3", ""}, {"Delay3", "25"}};
}

const std::string kSaved =
    "File0=C:\\x.exe\r\nDelay0=10\r\nFile1=\r\nDelay1=15\r\nFile2=\r\nDelay2=20\r\nFile3=\r\n"
    "Delay3=25\r\n";
const std::string kLater = "File1=\r\nDelay1=15\r\nFile2=\r\nDelay2=20\r\nFile3=\r\nDelay3=25\r\n";

// A Save's edit of the whole file. The files a Save or the installer writes come out byte for
// byte as the profile API writes them (checked against it on Windows); other lines are left as
// they stand.
TEST(IniText, ASaveSetsItsKeysAndLeavesEveryOtherByte) {
  const struct {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"empty", "", "[AUTORUN]\r\n" + kSaved},
      {"keys replaced", "[AUTORUN]\r\nFile0=old\r\nDelay0=3\r\n" + kLater,
       "[AUTORUN]\r\n" + kSaved},
      {"sections around",
       "[REMOTE]\r\nAllowFrom=1.2.3.4\r\n[AUTORUN]\r\nFile0=old\r\n[POWER]\r\nOffAt=21:30\r\n",
       "[REMOTE]\r\nAllowFrom=1.2.3.4\r\n[AUTORUN]\r\n" + kSaved + "[POWER]\r\nOffAt=21:30\r\n"},
      {"section missing", "[REMOTE]\r\nLog=1\r\n", "[REMOTE]\r\nLog=1\r\n[AUTORUN]\r\n" + kSaved},
      {"no last line end", "[REMOTE]\r\nLog=1", "[REMOTE]\r\nLog=1\r\n[AUTORUN]\r\n" + kSaved},
      {"other keys stay in place", "[AUTORUN]\r\nFile0=a\r\nRestart0=5\r\nDelay0=1\r\n" + kLater,
       "[AUTORUN]\r\nFile0=C:\\x.exe\r\nRestart0=5\r\nDelay0=10\r\n" + kLater},
      {"first section and first key only",
       "[AUTORUN]\r\nFile0=a\r\nFile0=b\r\n[AUTORUN]\r\nDelay0=9\r\n",
       "[AUTORUN]\r\nFile0=C:\\x.exe\r\nFile0=b\r\nDelay0=10\r\n" + kLater +
           "[AUTORUN]\r\nDelay0=9\r\n"},
      {"names in any case and blanks", "[ autorun ] x\r\n\tfile0 = old \r\n  DELAY0\r\n",
       "[ autorun ] x\r\nfile0=C:\\x.exe\r\nDELAY0=10\r\n" + kLater},
      {"comments, blank lines, text before any section",
       "x=1\r\n; File0=no\r\n[AUTORUN]\r\n; note\r\nFile0=a\r\n\r\n\r\n[REMOTE]\r\nLog=1\r\n",
       "x=1\r\n; File0=no\r\n[AUTORUN]\r\n; note\r\nFile0=C:\\x.exe\r\nDelay0=10\r\n" + kLater +
           "\r\n\r\n[REMOTE]\r\nLog=1\r\n"},
      {"LF and CR line ends", "[REMOTE]\nLog=1\n[AUTORUN]\rFile0=a\rDelay0=1\r",
       "[REMOTE]\nLog=1\n[AUTORUN]\rFile0=C:\\x.exe\rDelay0=10\r" + kLater},
      {"not a header", "[AUTORUN\r\nFile0=a\r\n", "[AUTORUN\r\nFile0=a\r\n[AUTORUN]\r\n" + kSaved},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetIniValues(c.before, "AUTORUN", SavedValues()), c.after) << c.name;
  }
}

// [REMOTE] and [POWER] are read from the whole file: whatever a second key or section holds
// would be dropped by the profile API without a word.
TEST(IniText, AKeyOrTheSectionGivenTwiceIsFound) {
  const struct {
    const char* name;
    std::string text;
    std::optional<IniRepeat> repeat;
  } cases[] = {
      {"once each", "[REMOTE]\r\nAllowFrom=127.0.0.1\r\nLog=1\r\n[POWER]\r\nOffAt=21:30\r\n", {}},
      {"key twice", "[REMOTE]\r\nAllowFrom=\r\nAllowFrom=127.0.0.1\r\n",
       IniRepeat{"REMOTE", "AllowFrom"}},
      {"any case, blanks, no value", "[remote]\r\n allowfrom=1.2.3.4\r\nALLOWFROM \r\n",
       IniRepeat{"REMOTE", "ALLOWFROM"}},
      {"any key of the section", "[REMOTE]\r\nUdp=0\r\nLog=1\r\nudp=1\r\n",
       IniRepeat{"REMOTE", "udp"}},
      {"section twice", "[REMOTE]\r\nLog=1\r\n[AUTORUN]\r\n[REMOTE]\r\nAllowFrom=127.0.0.9\r\n",
       IniRepeat{"REMOTE", ""}},
      {"section twice, empty", "[REMOTE]\r\n[ Remote ] x\r\n", IniRepeat{"REMOTE", ""}},
      {"other sections may repeat the key",
       "[AUTORUN]\r\nAllowFrom=x\r\n[REMOTE]\r\nAllowFrom=y\r\n[X]\r\nAllowFrom=z\r\n",
       {}},
      {"comments and blank lines",
       "[REMOTE]\r\n;AllowFrom=\r\n\r\nAllowFrom=y\r\n=1\r\n=2\r\n",
       {}},
      {"not a header", "[REMOTE]\r\nLog=1\r\n[REMOTE\r\n[REMOTE]]\r\n", {}},
      {"lone CR ends a line", "[REMOTE]\rAllowFrom=\rAllowFrom=1.2.3.4",
       IniRepeat{"REMOTE", "AllowFrom"}},
  };
  for (const auto& c : cases) {
    const std::optional<IniRepeat> found = FindRepeat(c.text, "REMOTE");
    ASSERT_EQ(found.has_value(), c.repeat.has_value()) << c.name;
    if (found) {
      EXPECT_EQ(found->section, c.repeat->section) << c.name;
      EXPECT_EQ(found->key, c.repeat->key) << c.name;
    }
  }
  EXPECT_EQ(RepeatText({"REMOTE", "AllowFrom"}), "设置项AllowFrom重复");
  EXPECT_EQ(RepeatText({"POWER", ""}), "[POWER]一节重复");
  EXPECT_EQ(RepeatLogText({"POWER", "OffAt"}), "OffAt given twice");
  EXPECT_EQ(RepeatLogText({"REMOTE", ""}), "[REMOTE] given twice");
}

TEST(IniText, AValueIsReadAsTheProfileApiReadsIt) {
  const std::string text =
      "[AUTORUN]\r\n File0 = C:\\a b.exe \r\nDelay0=\"12\"\r\n;Delay1=3\r\nFlag\r\n"
      "[autorun]\r\nFile1=second section\r\n[POWER]\nOffAt=22:30";
  const struct {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"AUTORUN", "file0", "C:\\a b.exe"},   {"AUTORUN", "Delay0", "12"},
      {"AUTORUN", "Delay1", std::nullopt},   {"AUTORUN", "Flag", ""},
      {"AUTORUN", "File1", std::nullopt},    {"POWER", "OffAt", "22:30"},
      {"REMOTE", "AllowFrom", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(GetIniValue(text, c.section, c.key), c.value) << c.key;
}

}  // namespace
}  // namespace qyr
