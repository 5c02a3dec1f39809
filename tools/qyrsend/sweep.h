#pragma once
// Carries out what the hall's rules decide: power commands zone by zone and the morning start,
// over the sender's sockets.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hall_key.h"
#include "hall_state.h"
#include "hosts_file.h"
#include "morning_start.h"

namespace qyrsend {

struct HallNet {
  int timeout_ms = kDefaultTimeoutMs;
  std::uint32_t broadcast = 0xFFFFFFFF;
  std::uint16_t wake_port = kDefaultWakePort;
  int repeat = kDefaultWakeRepeat;
  // --key: power commands go as the signed exchange.
  std::optional<HallKey> key;
};

std::int64_t WallMs();
std::int64_t SteadyMs();

// The status of these PCs, asked all at once.
std::vector<Answer> AskStatus(const Hall& hall, const std::vector<std::size_t>& pcs,
                              const HallNet& net);

// Sends `command` (power off or restart) zone after zone, signed when `net` has the key; one
// outcome per PC.
std::vector<Outcome> SendZoneByZone(const Hall& hall, const std::vector<std::size_t>& pcs,
                                    qyr::Command command, const HallNet& net);

// Wakes the PCs that have a MAC; one entry per PC: "sent", "no MAC" or "error: ...".
std::vector<std::string> WakePcs(const Hall& hall, const std::vector<std::size_t>& pcs,
                                 const HallNet& net);

struct StartCallbacks {
  // `pc` is the hall's index of the PC.
  std::function<void(std::size_t pc, const StartChange& change, std::int64_t wall_ms)> changed;
  std::function<void(std::size_t pc, std::int64_t wall_ms)> woken;
  std::function<void(std::size_t pc, const Answer& answer, std::int64_t wall_ms)> answered;
};

// Runs the morning start over `pcs` (zone after zone) until every PC is ready or failed, or
// `stop` is set; returns the machine as it ended.
MorningStart RunMorningStart(const Hall& hall, const std::vector<std::size_t>& pcs,
                             const StartSettings& settings, const HallNet& net,
                             const StartCallbacks& callbacks, const std::atomic<bool>& stop);

}  // namespace qyrsend
