#pragma once
// How the program was started, read once from its whole command line: to run as the launcher, to
// write an elevated Save, or to answer one of the installer's checks.
#include <string_view>

#include "app/save_mode.h"
#include "setup/check_mode.h"

namespace qyr {

enum class StartKind { kRun, kSave, kCheck };

struct StartMode {
  StartKind kind = StartKind::kRun;
  SaveArgs save;       // kSave: the request, or why it cannot be one
  CheckRequest check;  // kCheck: the check asked for, or why it cannot be run
};

// The first argument after the program's name decides: "--save" is save mode (even when what
// follows is not a save request, so that the copy never starts a second launcher), a check's
// option or any "--check-..." is check mode, and everything else runs the launcher.
StartMode ReadStartMode(std::string_view command_line);

}  // namespace qyr
