#include "app/start_mode.h"

#include <string>
#include <vector>

#include "base/command_line.h"

namespace qyr {

StartMode ReadStartMode(std::string_view command_line) {
  StartMode mode;
  std::vector<std::string> argv = SplitCommandLine(command_line);
  mode.save = ParseSaveArguments(argv);
  if (mode.save.error != SaveArgsError::kNotSaveMode) {
    mode.kind = StartKind::kSave;
    return mode;
  }
  if (!argv.empty()) argv.erase(argv.begin());
  mode.check = ParseCheckRequest(argv);
  if (mode.check.mode != CheckMode::kNone) mode.kind = StartKind::kCheck;
  return mode;
}

}  // namespace qyr
