#pragma once
// The forced power-off or restart that ends a countdown.
#include "remote/countdown.h"

namespace qyr {

// Enables the shutdown privilege of this process. True when all three privilege steps
// succeeded. Failures are not reported on screen: the power request goes out all the same.
bool EnableShutdownPrivilege();

// Asks for the forced power action: false when the system refused it. Either way the screen
// stays and a later command may try again; a refusal is only reported in the status reply.
bool RequestPowerAction(PowerRequest request);

}  // namespace qyr
