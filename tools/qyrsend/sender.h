#pragma once
// Sends one command to many hosts at once and collects what each one answered.
#include <string>
#include <vector>

#include "cli.h"

namespace qyrsend {

// One outcome per target, in the same order. Every host gets `timeout_ms` from the moment its
// connection is started; the hosts of one batch are served side by side.
std::vector<Outcome> SendToAll(const std::vector<Target>& targets, const std::string& payload,
                               Transport transport, int timeout_ms);

}  // namespace qyrsend
