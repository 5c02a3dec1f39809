#pragma once
// The forced power-off or restart that ends a countdown.
#include "remote/countdown.h"

namespace qyr {

// Enables the shutdown privilege of this process. True when all three privilege steps
// succeeded. Failures are not reported on screen: the power request goes out all the same.
bool EnableShutdownPrivilege();

// Asks for the forced power action; its result is not looked at, the screen stays and a later
// command may try again.
void RequestPowerAction(PowerRequest request);

}  // namespace qyr
