#pragma once
// Sends one command to many hosts at once and collects what each one answered.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace qyrsend {

// What a host's reply so far leads to: its answer (the exchange ends), the next message on the
// same connection, or neither (wait for more bytes).
struct Turn {
  std::optional<Outcome> outcome;
  std::string next;
};

// An exchange with one host: the first message, then for each reply (its bytes since the last
// message sent; `turn` 0 for the reply to the first) what follows.
struct Dialogue {
  std::string first;
  std::function<Turn(std::size_t turn, std::string_view reply)> on_reply;
};

// The plain exchange: `payload`, and its reply judged by `rule`.
Dialogue OneMessage(std::string payload, ReplyRule rule);

// One answer per target, in the same order. Every host is awaited within `timeout_ms` from the
// call, however many there are: names are resolved on threads that this does not wait for past
// the deadline, and hosts are asked side by side, as many at once as sockets may be open, the
// next as soon as one is done.
std::vector<Answer> AskAll(const std::vector<Target>& targets, const Dialogue& dialogue,
                           Transport transport, int timeout_ms);

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
