#pragma once
// Carries out what the hall's rules decide: power commands zone by zone and the morning start,
// over the sender's sockets.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hall_hosts.h"
#include "hall_state.h"
#include "morning_start.h"

namespace qyrsend {

struct HallNet {
  int timeout_ms = kDefaultTimeoutMs;
  std::uint32_t broadcast = 0xFFFFFFFF;
  std::uint16_t wake_port = kDefaultWakePort;
  int repeat = kDefaultWakeRepeat;
};

std::int64_t WallMs();
std::int64_t SteadyMs();

// The status of these PCs, asked all at once.
std::vector<Answer> AskStatus(const Hall& hall, const std::vector<std::size_t>& pcs,
                              const HallNet& net);

// Sends `word` (QyrNOR_PC_OFF, QyrNOR_PC_REBOOT) zone after zone; one outcome per PC.
std::vector<Outcome> SendZoneByZone(const Hall& hall, const std::vector<std::size_t>& pcs,
                                    const std::string& word, const HallNet& net);

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
