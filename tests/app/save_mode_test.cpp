#include "app/save_mode.h"

#include "base/command_line.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(SaveMode, WhatWasTypedTravelsWholeOnTheCommandLine) {
  const SaveRequest typed = {{{{"C:\\Show Room\\QyrPlayer_V3.exe", "10"},
                               {"D:\\展厅\\欢迎 \"新\".pptx", " 15 "},
                               {"D:\\展厅 二\\", "12s"},
                               {"", ""}}},
                             false};
  const std::string line = QuoteArgument("C:\\Program Files\\QyrNOR\\QyrDelay.exe") + " " +
                           JoinArguments(SaveModeArguments(typed));
  const SaveArgs parsed = ParseSaveArguments(SplitCommandLine(line));
  ASSERT_TRUE(parsed.ok());
  for (std::size_t i = 0; i < typed.rows.size(); ++i) {
    EXPECT_EQ(parsed.request.rows[i].file, typed.rows[i].file) << i;
    EXPECT_EQ(parsed.request.rows[i].delay, typed.rows[i].delay) << i;
  }
  EXPECT_FALSE(parsed.request.autorun);
  EXPECT_TRUE(ParseSaveArguments(SplitCommandLine("p --save a 1 b 2 c 3 d 4 1")).request.autorun);

  struct Case {
    const char* line;
    SaveArgsError error;
  } cases[] = {
      {"QyrDelay.exe", SaveArgsError::kNotSaveMode},
      {"QyrDelay.exe --check-allow=1.2.3.4", SaveArgsError::kNotSaveMode},
      {"QyrDelay.exe x --save", SaveArgsError::kNotSaveMode},
      {"QyrDelay.exe --SAVE a 1 b 2 c 3 d 4 1", SaveArgsError::kNotSaveMode},
      {"QyrDelay.exe --save", SaveArgsError::kArgumentCount},
      {"QyrDelay.exe --save a 1 b 2 c 3 d 4", SaveArgsError::kArgumentCount},
      {"QyrDelay.exe --save a 1 b 2 c 3 d 4 1 x", SaveArgsError::kArgumentCount},
      {"QyrDelay.exe --save a 1 b 2 c 3 d 4 yes", SaveArgsError::kAutoRunFlag},
      {"QyrDelay.exe --save a 1 b 2 c 3 d 4 \"\"", SaveArgsError::kAutoRunFlag},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseSaveArguments(SplitCommandLine(c.line)).error, c.error) << c.line;
  }
}

TEST(SaveMode, EveryOutcomeHasItsOwnExitCodeAndForeignCodesAreRefusals) {
  for (const SaveOutcome outcome :
       {SaveOutcome::kSaved, SaveOutcome::kAutoRunFailed, SaveOutcome::kRefused,
        SaveOutcome::kBadDelay, SaveOutcome::kBadArguments}) {
    EXPECT_EQ(SaveOutcomeOf(SaveExitCode(outcome)), outcome);
  }
  EXPECT_EQ(SaveExitCode(SaveOutcome::kSaved), 0u);
  // A crash, a process ended from outside, a generic failure.
  for (const std::uint32_t foreign : {1u, 3u, 259u, 0xC0000005u, 0xFFFFFFFFu}) {
    EXPECT_EQ(SaveOutcomeOf(foreign), SaveOutcome::kRefused) << foreign;
  }
}

}  // namespace
}  // namespace qyr
