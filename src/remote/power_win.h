#pragma once
// The forced power-off or restart that ends a countdown.
#include "remote/countdown.h"

namespace qyr {

// Enables the shutdown privilege of this process and asks for the forced power action,
// whatever the privilege steps said. True when all three privilege steps succeeded. Failures
// are not reported anywhere: the screen stays and a later command may try again.
bool PowerAction(PowerRequest request);

}  // namespace qyr
