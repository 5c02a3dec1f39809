#include "app/save_mode.h"

namespace qyr {

namespace {

constexpr std::size_t kSaveArgumentCount = 1 + 2 * kSlotCount + 1;  // after the program name

}  // namespace

std::vector<std::string> SaveModeArguments(const SaveRequest& request) {
  std::vector<std::string> args = {kSaveModeSwitch};
  for (const RowText& row : request.rows) {
    args.push_back(row.file);
    args.push_back(row.delay);
  }
  args.emplace_back(request.autorun ? "1" : "0");
  return args;
}

SaveArgs ParseSaveArguments(const std::vector<std::string>& argv) {
  SaveArgs parsed;
  if (argv.size() < 2 || argv[1] != kSaveModeSwitch) return parsed;
  if (argv.size() != 1 + kSaveArgumentCount) {
    parsed.error = SaveArgsError::kArgumentCount;
    return parsed;
  }
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    parsed.request.rows[i] = {argv[2 + 2 * i], argv[3 + 2 * i]};
  }
  const std::string& autorun = argv.back();
  if (autorun != "1" && autorun != "0") {
    parsed.error = SaveArgsError::kAutoRunFlag;
    return parsed;
  }
  parsed.request.autorun = autorun == "1";
  parsed.error = SaveArgsError::kNone;
  return parsed;
}

std::uint32_t SaveExitCode(SaveOutcome outcome) {
  // Zero for success, as any caller of a program expects; the others are unlike the codes of a
  // crashed or ended process.
  switch (outcome) {
    case SaveOutcome::kSaved:
      return 0;
    case SaveOutcome::kAutoRunFailed:
      return 70;
    case SaveOutcome::kRefused:
      return 71;
    case SaveOutcome::kBadDelay:
      return 72;
    case SaveOutcome::kBadArguments:
      return 73;
    case SaveOutcome::kBadText:
      return 74;
  }
  return 71;
}

SaveOutcome SaveOutcomeOf(std::uint32_t exit_code) {
  for (const SaveOutcome outcome :
       {SaveOutcome::kSaved, SaveOutcome::kAutoRunFailed, SaveOutcome::kBadDelay,
        SaveOutcome::kBadArguments, SaveOutcome::kBadText}) {
    if (SaveExitCode(outcome) == exit_code) return outcome;
  }
  return SaveOutcome::kRefused;
}

}  // namespace qyr
