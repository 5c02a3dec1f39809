#pragma once
// The elevated Save. A Save that cannot write the settings file or the Run value starts this
// same exe again with administrator rights, in save mode: what was typed into the four rows and
// the autostart choice travel on its command line, and its exit code tells the window how the
// save went. These are the rules of that exchange; save_mode_win carries them out.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "launch/slots.h"

namespace qyr {

inline constexpr const char* kSaveModeSwitch = "--save";

// What the window's Save writes: the rows as typed and whether to start at logon.
struct SaveRequest {
  std::array<RowText, kSlotCount> rows;
  bool autorun = true;
};

// The arguments after the program name: the switch, then each row's path and delay text, then
// "1" or "0" for the autostart choice.
std::vector<std::string> SaveModeArguments(const SaveRequest& request);

enum class SaveArgsError {
  kNone,           // a save request
  kNotSaveMode,    // not started to save: the program starts as usual
  kArgumentCount,  // the switch, but not the arguments that go with it
  kAutoRunFlag,    // the last argument is neither "1" nor "0"
};

struct SaveArgs {
  SaveArgsError error = SaveArgsError::kNotSaveMode;
  SaveRequest request;
  bool ok() const { return error == SaveArgsError::kNone; }
};

// `argv` as SplitCommandLine gives it, the program name first.
SaveArgs ParseSaveArguments(const std::vector<std::string>& argv);

// How a save ended; in save mode, the exit code carries it back to the window.
enum class SaveOutcome {
  kSaved,          // the settings file and the Run value are as asked
  kAutoRunFailed,  // the settings file is written, the Run value could not be
  kRefused,        // the settings file refused a write; automatic start is untouched
  kBadDelay,       // a delay is not an integer; nothing is written
  kBadText,        // a path or delay holds a control character; nothing is written
  kBadArguments,   // not a command line the window makes; nothing is written
};

std::uint32_t SaveExitCode(SaveOutcome outcome);
// A code that is none of ours (the process crashed or was ended) counts as refused: the window
// cannot know what was written, so it does not claim the save.
SaveOutcome SaveOutcomeOf(std::uint32_t exit_code);

}  // namespace qyr
