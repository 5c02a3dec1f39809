#pragma once
// Sends one command to many hosts at once and collects what each one answered.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"

namespace qyrsend {

// One answer per target, in the same order, each reply judged by `rule`. Every host gets
// `timeout_ms` from the moment its connection is started; the hosts of one batch (up to 200) are
// served side by side, so a hall with PCs switched off takes one timeout, not one each.
std::vector<Answer> AskAll(const std::vector<Target>& targets, const std::string& payload,
                           Transport transport, int timeout_ms, ReplyRule rule);

// AskAll without the round trips.
std::vector<Outcome> SendToAll(const std::vector<Target>& targets, const std::string& payload,
                               Transport transport, int timeout_ms, ReplyRule rule = ClassifyReply);

// Sends each MAC's magic packet `repeat` times to `broadcast`:`port`, a round of all of them
// every `gap`, since a sleeping network adapter may miss one. One entry per MAC: empty when
// every packet went out, else the first reason one did not.
std::vector<std::string> WakeAll(const std::vector<Mac>& macs, std::uint32_t broadcast,
                                 std::uint16_t port, int repeat, std::chrono::milliseconds gap);

}  // namespace qyrsend
