#include "hall_run.h"

#include <chrono>
#include <thread>

#include "net.h"
#include "remote/protocol.h"
#include "sender.h"

namespace qyrsend {

std::int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

std::vector<Target> TargetsOf(const Hall& hall, const std::vector<std::size_t>& pcs) {
  std::vector<Target> targets;
  for (const std::size_t pc : pcs) targets.push_back(hall.pcs[pc].target);
  return targets;
}

}  // namespace

std::vector<Answer> AskStatus(const Hall& hall, const std::vector<std::size_t>& pcs,
                              const HallNet& net) {
  return AskAll(TargetsOf(hall, pcs), std::string(qyr::CommandWord(qyr::Command::kStatus)),
                Transport::Tcp, net.timeout_ms, ClassifyStatusReply);
}

std::vector<Outcome> SendZoneByZone(const Hall& hall, const std::vector<std::size_t>& pcs,
                                    const std::string& word, const HallNet& net) {
  std::vector<Outcome> outcomes(pcs.size());
  std::size_t first = 0;
  while (first < pcs.size()) {
    std::size_t end = first;
    while (end < pcs.size() && hall.pcs[pcs[end]].zone == hall.pcs[pcs[first]].zone) ++end;
    const std::vector<std::size_t> zone(pcs.begin() + static_cast<std::ptrdiff_t>(first),
                                        pcs.begin() + static_cast<std::ptrdiff_t>(end));
    std::vector<Outcome> got =
        SendToAll(TargetsOf(hall, zone), word, Transport::Tcp, net.timeout_ms, ClassifyReply);
    for (std::size_t i = 0; i < got.size(); ++i) outcomes[first + i] = std::move(got[i]);
    first = end;
  }
  return outcomes;
}

std::vector<std::string> WakePcs(const Hall& hall, const std::vector<std::size_t>& pcs,
                                 const HallNet& net) {
  std::vector<std::string> results(pcs.size(), "no MAC");
  std::vector<Mac> macs;
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < pcs.size(); ++i) {
    if (!hall.pcs[pcs[i]].mac) continue;
    macs.push_back(*hall.pcs[pcs[i]].mac);
    at.push_back(i);
  }
  if (macs.empty()) return results;
  net::Library library;
  const std::vector<std::string> errors =
      library.ok()
          ? WakeAll(macs, net.broadcast, net.wake_port, net.repeat, std::chrono::milliseconds(100))
          : std::vector<std::string>(macs.size(), "no socket library");
  for (std::size_t i = 0; i < at.size(); ++i)
    results[at[i]] = errors[i].empty() ? "sent" : "error: " + errors[i];
  return results;
}

MorningStart RunMorningStart(const Hall& hall, const std::vector<std::size_t>& pcs,
                             const StartSettings& settings, const HallNet& net,
                             const StartCallbacks& callbacks, const std::atomic<bool>& stop) {
  // The machine's PCs run zone after zone, as `pcs` does.
  std::vector<std::vector<StartPcInput>> zones;
  for (std::size_t i = 0; i < pcs.size(); ++i) {
    if (i == 0 || hall.pcs[pcs[i]].zone != hall.pcs[pcs[i - 1]].zone) zones.emplace_back();
    zones.back().push_back({hall.pcs[pcs[i]].mac.has_value()});
  }
  MorningStart machine(zones, settings);

  const auto carry_out = [&](const StartEffects& effects) {
    for (const StartChange& change : effects.changes) {
      if (callbacks.changed) callbacks.changed(pcs[change.pc], change, WallMs());
    }
    if (!effects.wake.empty()) {
      std::vector<std::size_t> wake;
      for (const std::size_t i : effects.wake) wake.push_back(pcs[i]);
      WakePcs(hall, wake, net);
      for (const std::size_t pc : wake) {
        if (callbacks.woken) callbacks.woken(pc, WallMs());
      }
    }
  };

  while (!machine.Done() && !stop) {
    const std::int64_t tick_at = SteadyMs();
    const StartEffects effects = machine.OnTick(tick_at);
    carry_out(effects);
    if (!effects.ask.empty()) {
      std::vector<std::size_t> ask;
      for (const std::size_t i : effects.ask) ask.push_back(pcs[i]);
      const std::vector<Answer> answers = AskStatus(hall, ask, net);
      for (std::size_t k = 0; k < answers.size(); ++k) {
        if (callbacks.answered) callbacks.answered(ask[k], answers[k], WallMs());
        carry_out(machine.OnAnswer(effects.ask[k], ViewAnswer(answers[k].outcome), SteadyMs()));
      }
    }
    const std::int64_t left = tick_at + 1000 - SteadyMs();
    if (left > 0 && !machine.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(left));
  }
  return machine;
}

}  // namespace qyrsend
