#include "sender.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "net.h"

namespace qyrsend {

namespace {

using Clock = std::chrono::steady_clock;

// Below Winsock's select() limit as this tool sets it.
constexpr std::size_t kBatch = 200;

enum class Phase { Connecting, Sending, Receiving, Done };

struct Probe {
  net::Socket socket = net::kNoSocket;
  Phase phase = Phase::Done;
  std::size_t sent = 0;
  std::string received;
  Outcome outcome;
  Clock::time_point sent_at;
  std::optional<std::chrono::microseconds> round_trip;
};

void Finish(Probe& probe, Outcome outcome) {
  probe.outcome = std::move(outcome);
  probe.phase = Phase::Done;
  net::Close(probe.socket);
  probe.socket = net::kNoSocket;
}

// Turns a failed or refused step into the probe's outcome; true when the probe may go on.
bool Carry(Probe& probe, const net::Step& step) {
  if (step.status == net::Status::Refused) {
    Finish(probe, {Verdict::Refused, {}});
    return false;
  }
  if (step.status == net::Status::Failed) {
    Finish(probe, {Verdict::Error, step.error});
    return false;
  }
  return true;
}

void Advance(Probe& probe, const std::string& payload, ReplyRule rule) {
  if (probe.phase == Phase::Connecting) {
    if (!Carry(probe, net::ConnectResult(probe.socket))) return;
    probe.phase = Phase::Sending;
  }
  if (probe.phase == Phase::Sending) {
    const net::Step step = net::Send(probe.socket, payload, probe.sent);
    if (!Carry(probe, step) || step.status == net::Status::Pending) return;
    probe.phase = Phase::Receiving;
    probe.sent_at = Clock::now();
    return;  // the reply comes later
  }
  if (probe.phase == Phase::Receiving) {
    const std::size_t before = probe.received.size();
    const net::Step step = net::Receive(probe.socket, probe.received);
    if (!Carry(probe, step) || step.status == net::Status::Pending) return;
    if (probe.received.size() == before) {
      // Closed by the peer; a reply cut short still counts as what it was.
      Finish(probe, probe.received.empty() ? Outcome{Verdict::Closed, {}}
                                           : Outcome{Verdict::Unexpected, probe.received});
      return;
    }
    if (auto outcome = rule(probe.received)) {
      probe.round_trip =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - probe.sent_at);
      Finish(probe, std::move(*outcome));
    }
  }
}

void RunBatch(const Target* targets, Probe* probes, std::size_t count, const std::string& payload,
              Transport transport, int timeout_ms, ReplyRule rule) {
  const bool udp = transport == Transport::Udp;
  for (std::size_t i = 0; i < count; ++i) {
    Probe& probe = probes[i];
    const net::Step step = net::Open(targets[i].host, targets[i].port, udp, probe.socket);
    probe.phase = step.status == net::Status::Pending ? Phase::Connecting : Phase::Sending;
    if (!Carry(probe, step)) continue;
    if (probe.phase == Phase::Sending) Advance(probe, payload, rule);
  }

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::vector<net::Watch> watches;
    std::vector<Probe*> watched;
    for (std::size_t i = 0; i < count; ++i) {
      if (probes[i].phase == Phase::Done) continue;
      watches.push_back({probes[i].socket, probes[i].phase != Phase::Receiving});
      watched.push_back(&probes[i]);
    }
    if (watches.empty()) return;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      for (Probe* probe : watched) {
        const bool unanswered_datagram = udp && probe->phase == Phase::Receiving;
        if (unanswered_datagram) {
          Finish(*probe, {Verdict::NoReply, {}});
        } else {
          // What came is kept: a status line that stopped halfway is no plain silence.
          Finish(*probe, {Verdict::Timeout, probe->received});
        }
      }
      return;
    }
    const std::vector<net::Ready> ready = net::Wait(watches, static_cast<int>(left));
    for (std::size_t i = 0; i < watched.size(); ++i)
      if (ready[i].ready) Advance(*watched[i], payload, rule);
  }
}

}  // namespace

std::vector<Answer> AskAll(const std::vector<Target>& targets, const std::string& payload,
                           Transport transport, int timeout_ms, ReplyRule rule) {
  std::vector<Probe> probes(targets.size());
  net::Library library;
  if (!library.ok()) {
    for (Probe& probe : probes) probe.outcome = {Verdict::Error, "no socket library"};
  } else {
    for (std::size_t first = 0; first < targets.size(); first += kBatch) {
      const std::size_t count = std::min(kBatch, targets.size() - first);
      RunBatch(targets.data() + first, probes.data() + first, count, payload, transport, timeout_ms,
               rule);
    }
  }
  std::vector<Answer> answers;
  for (Probe& probe : probes) answers.push_back({std::move(probe.outcome), probe.round_trip});
  return answers;
}

std::vector<Outcome> SendToAll(const std::vector<Target>& targets, const std::string& payload,
                               Transport transport, int timeout_ms, ReplyRule rule) {
  std::vector<Outcome> outcomes;
  for (Answer& answer : AskAll(targets, payload, transport, timeout_ms, rule))
    outcomes.push_back(std::move(answer.outcome));
  return outcomes;
}

std::vector<std::string> WakeAll(const std::vector<Mac>& macs, std::uint32_t broadcast,
                                 std::uint16_t port, int repeat, std::chrono::milliseconds gap) {
  std::vector<std::string> errors(macs.size());
  for (int round = 0; round < repeat; ++round) {
    if (round > 0) std::this_thread::sleep_for(gap);
    for (std::size_t i = 0; i < macs.size(); ++i) {
      const net::Step step = net::SendDatagram(broadcast, port, MagicPacket(macs[i]));
      if (step.status != net::Status::Done && errors[i].empty())
        errors[i] = step.error.empty() ? "not sent" : step.error;
    }
  }
  return errors;
}

}  // namespace qyrsend
