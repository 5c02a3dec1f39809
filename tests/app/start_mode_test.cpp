#include "app/start_mode.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(StartMode, TheFirstArgumentDecidesRunSaveOrCheck) {
  struct Case {
    const char* line;
    StartKind kind;
    SaveArgsError save = SaveArgsError::kNotSaveMode;
    CheckMode check = CheckMode::kNone;
  } cases[] = {
      {"", StartKind::kRun},
      {"QyrDelay.exe", StartKind::kRun},
      {"\"C:\\Program Files\\QyrNOR\\QyrDelay.exe\"", StartKind::kRun},
      // What a shortcut or the Run value may add is ignored, as it always was.
      {"QyrDelay.exe /min", StartKind::kRun},
      {"QyrDelay.exe x --save a 1 b 2 c 3 d 4 1", StartKind::kRun},
      {"QyrDelay.exe x --check-allow=1.2.3.4", StartKind::kRun},
      {"QyrDelay.exe --SAVE a 1 b 2 c 3 d 4 1", StartKind::kRun},
      {"\"C:\\Program Files\\QyrNOR\\QyrDelay.exe\" --save \"D:\\展厅\\a b.exe\" 10 b 2 c 3 d 4 0",
       StartKind::kSave, SaveArgsError::kNone},
      // A broken save request is still save mode: the copy must not start a second launcher.
      {"QyrDelay.exe --save", StartKind::kSave, SaveArgsError::kArgumentCount},
      {"QyrDelay.exe --save a 1 b 2 c 3 d 4 yes", StartKind::kSave, SaveArgsError::kAutoRunFlag},
      {"QyrDelay.exe --check-allow=1.2.3.4", StartKind::kCheck, SaveArgsError::kNotSaveMode,
       CheckMode::kAllow},
      {"\"C:\\Program Files\\QyrNOR\\QyrDelay.exe\" \"--secure-folder=C:\\Program Files\\QyrNOR\"",
       StartKind::kCheck, SaveArgsError::kNotSaveMode, CheckMode::kSecureFolder},
      {"QyrDelay.exe --check-power=22:30 --days=1-5", StartKind::kCheck,
       SaveArgsError::kNotSaveMode, CheckMode::kPower},
      // A check that does not exist, or lacks its value, is answered, never run as the launcher.
      {"QyrDelay.exe --check-nothing", StartKind::kCheck, SaveArgsError::kNotSaveMode,
       CheckMode::kUnknown},
      {"QyrDelay.exe --check-key", StartKind::kCheck, SaveArgsError::kNotSaveMode, CheckMode::kKey},
  };
  for (const Case& c : cases) {
    const StartMode mode = ReadStartMode(c.line);
    EXPECT_EQ(mode.kind, c.kind) << c.line;
    EXPECT_EQ(mode.save.error, c.save) << c.line;
    EXPECT_EQ(mode.check.mode, c.check) << c.line;
  }
  const StartMode save = ReadStartMode(
      "\"C:\\Program Files\\QyrNOR\\QyrDelay.exe\" --save \"D:\\展厅\\a b.exe\" 10 b 2 c 3 d 4 0");
  EXPECT_EQ(save.save.request.rows[0].file, "D:\\展厅\\a b.exe");
  EXPECT_FALSE(save.save.request.autorun);
  EXPECT_EQ(ReadStartMode("QyrDelay.exe --check-allow=1.2.3.4").check.value, "1.2.3.4");
}

}  // namespace
}  // namespace qyr
