#pragma once
// The installer's checks (app/check_mode.h), run before anything else when the command line asks
// for one.
#include <optional>

namespace qyr {

// The exit code of the check the command line asks for, once it has run; nothing when it asks
// for none and the launcher is to start.
std::optional<int> RunCheckMode();

}  // namespace qyr
