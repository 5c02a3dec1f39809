#pragma once
// The installer's checks (setup/check_mode.h), run before anything else when the command line
// asks for one.
#include "setup/check_mode.h"

namespace qyr {

// Runs the check asked for (a request whose mode is not kNone) and gives its exit code.
int RunCheckMode(const CheckRequest& request);

}  // namespace qyr
