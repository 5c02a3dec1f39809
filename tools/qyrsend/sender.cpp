#include "sender.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "net.h"

namespace qyrsend {

namespace {

using Clock = std::chrono::steady_clock;

// Lookups at once; a name server that never answers holds one each.
constexpr std::size_t kResolverThreads = 8;

// A PC that refuses the sender may close before the command arrives: its reset to the command
// then follows the close within a round trip.
constexpr std::chrono::milliseconds kResetGrace(200);

struct Resolved {
  std::string host;
  net::Step step;
  std::uint32_t address = 0;
};

// Names looked up on detached threads, so that a silent name server holds nobody past the
// deadline: a lookup that never ends keeps only its thread, which ends with the process. What the
// threads share lives as long as the last of them.
class Resolver {
 public:
  explicit Resolver(const std::vector<std::string>& names) : shared_(std::make_shared<Shared>()) {
    shared_->todo.assign(names.begin(), names.end());
    const std::size_t threads = std::min(kResolverThreads, names.size());
    for (std::size_t i = 0; i < threads; ++i) {
      try {
        std::thread([shared = shared_] { Work(*shared); }).detach();
        ++threads_;
      } catch (const std::system_error&) {
        break;  // the names left wait for the threads that did start
      }
    }
  }
  ~Resolver() {
    // Threads still at work take no further name.
    const std::lock_guard lock(shared_->mutex);
    shared_->todo.clear();
  }
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  bool started() const { return threads_ > 0; }
  // Readable once a lookup has ended; invalid when no waker could be made.
  net::Socket socket() const {
    return shared_->waker.ok() ? shared_->waker.socket() : net::kNoSocket;
  }
  std::vector<Resolved> Take() {
    shared_->waker.Drain();
    const std::lock_guard lock(shared_->mutex);
    return std::exchange(shared_->done, {});
  }

 private:
  struct Shared {
    net::Library library;  // Winsock for the lookups, however long they take
    net::Waker waker;
    std::mutex mutex;
    std::deque<std::string> todo;
    std::vector<Resolved> done;
  };

  static void Work(Shared& shared) {
    for (;;) {
      Resolved result;
      {
        const std::lock_guard lock(shared.mutex);
        if (shared.todo.empty()) return;
        result.host = std::move(shared.todo.front());
        shared.todo.pop_front();
      }
      result.step = net::Resolve(result.host, false, result.address);
      {
        const std::lock_guard lock(shared.mutex);
        shared.done.push_back(std::move(result));
      }
      shared.waker.Wake();
    }
  }

  std::shared_ptr<Shared> shared_;
  std::size_t threads_ = 0;
};

// Closing: closed by the peer before a word, waiting for the reset that tells a refusal.
enum class Phase { Resolving, Queued, Connecting, Sending, Receiving, Closing, Done };

struct Probe {
  Phase phase = Phase::Resolving;
  std::uint32_t address = 0;
  net::Socket socket = net::kNoSocket;
  std::size_t turn = 0;
  std::string message;
  std::size_t sent = 0;
  std::string received;  // since the last message sent
  Outcome outcome;
  Clock::time_point sent_at;
  Clock::time_point closed_at;
  std::optional<std::chrono::microseconds> round_trip;
};

void Finish(Probe& probe, Outcome outcome) {
  probe.outcome = std::move(outcome);
  probe.phase = Phase::Done;
  net::Close(probe.socket);
  probe.socket = net::kNoSocket;
}

// Turns a failed, refused or reset step into the probe's outcome; true when the probe may go on.
bool Carry(Probe& probe, const net::Step& step, bool udp) {
  switch (step.status) {
    case net::Status::Done:
    case net::Status::Pending:
      return true;
    case net::Status::Refused:
      Finish(probe, {Verdict::Refused, {}});
      return false;
    case net::Status::Reset:
      if (udp) {
        Finish(probe, {Verdict::Refused, {}});  // Winsock's word for a closed port
      } else if (!probe.received.empty()) {
        Finish(probe, {Verdict::Unexpected, probe.received});  // a reply cut short
      } else if (probe.turn == 0) {
        // Taken and dropped before a word: what a PC does to a sender its allow-list refuses.
        Finish(probe, {Verdict::RefusedByPc, {}});
      } else {
        Finish(probe, {Verdict::Error, step.error});
      }
      return false;
    case net::Status::Failed:
      break;
  }
  Finish(probe, {Verdict::Error, step.error});
  return false;
}

void Advance(Probe& probe, const Dialogue& dialogue, bool udp) {
  if (probe.phase == Phase::Connecting) {
    if (!Carry(probe, net::ConnectResult(probe.socket), udp)) return;
    probe.phase = Phase::Sending;
  }
  for (;;) {
    if (probe.phase == Phase::Sending) {
      const net::Step step = net::Send(probe.socket, probe.message, probe.sent);
      if (!Carry(probe, step, udp) || step.status == net::Status::Pending) return;
      probe.phase = Phase::Receiving;
      probe.received.clear();
      probe.sent_at = Clock::now();
      return;  // the reply comes later
    }
    if (probe.phase != Phase::Receiving) return;
    const std::size_t before = probe.received.size();
    const net::Step step = net::Receive(probe.socket, probe.received);
    if (!Carry(probe, step, udp) || step.status == net::Status::Pending) return;
    if (probe.received.size() == before) {
      if (!udp && probe.turn == 0 && probe.received.empty()) {
        probe.phase = Phase::Closing;
        probe.closed_at = Clock::now();
        return;
      }
      // Closed by the peer; a reply cut short still counts as what it was.
      Finish(probe, probe.received.empty() ? Outcome{Verdict::Closed, {}}
                                           : Outcome{Verdict::Unexpected, probe.received});
      return;
    }
    Turn turn = dialogue.on_reply(probe.turn, probe.received);
    if (turn.outcome) {
      probe.round_trip =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - probe.sent_at);
      Finish(probe, std::move(*turn.outcome));
      return;
    }
    if (turn.next.empty()) return;  // more of the reply to come
    probe.message = std::move(turn.next);
    probe.sent = 0;
    ++probe.turn;
    probe.phase = Phase::Sending;
  }
}

void Start(Probe& probe, const Target& target, const Dialogue& dialogue, bool udp) {
  probe.message = dialogue.first;
  const net::Step step = net::Open(probe.address, target.port, udp, probe.socket);
  probe.phase = step.status == net::Status::Pending ? Phase::Connecting : Phase::Sending;
  if (Carry(probe, step, udp) && probe.phase == Phase::Sending) Advance(probe, dialogue, udp);
}

// Closed before a word: refused when the peer reset the connection since, else closed unanswered.
void Settle(Probe& probe) {
  Finish(probe, {net::WasReset(probe.socket) ? Verdict::RefusedByPc : Verdict::Closed, {}});
}

// Every probe not done by the deadline gets the answer its phase stands for.
void Expire(Probe& probe, bool udp) {
  switch (probe.phase) {
    case Phase::Closing:
      Settle(probe);
      return;
    case Phase::Resolving:
      Finish(probe, {Verdict::Error, "cannot resolve: no answer in time"});
      return;
    case Phase::Queued:
      Finish(probe, {Verdict::Error, "not asked: more hosts than sockets may be open at once"});
      return;
    case Phase::Receiving:
      if (udp) {
        Finish(probe, {Verdict::NoReply, {}});
        return;
      }
      break;
    case Phase::Connecting:
    case Phase::Sending:
      break;
    case Phase::Done:
      return;
  }
  // What came is kept: a status line that stopped halfway is no plain silence.
  Finish(probe, {Verdict::Timeout, probe.received});
}

void Run(const std::vector<Target>& targets, std::vector<Probe>& probes, const Dialogue& dialogue,
         bool udp, Clock::time_point deadline) {
  std::deque<std::size_t> queued;                          // address known, waiting for a socket
  std::map<std::string, std::vector<std::size_t>> naming;  // name -> the probes waiting for it
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const net::Step step = net::Resolve(targets[i].host, true, probes[i].address);
    if (step.status == net::Status::Done) {
      probes[i].phase = Phase::Queued;
      queued.push_back(i);
    } else {
      naming[targets[i].host].push_back(i);
    }
  }
  std::vector<std::string> names;
  for (const auto& [name, waiting] : naming) names.push_back(name);
  Resolver resolver(names);
  if (!resolver.started()) {
    for (auto& [name, waiting] : naming) {
      for (const std::size_t i : waiting)
        Finish(probes[i], {Verdict::Error, "cannot resolve: no thread to ask on"});
    }
    naming.clear();
  }

  const std::size_t budget = net::SocketBudget();
  std::vector<std::size_t> open;  // probes with a socket
  for (;;) {
    for (Resolved& result : naming.empty() ? std::vector<Resolved>() : resolver.Take()) {
      const auto it = naming.find(result.host);
      if (it == naming.end()) continue;
      for (const std::size_t i : it->second) {
        probes[i].address = result.address;
        if (result.step.status == net::Status::Done) {
          probes[i].phase = Phase::Queued;
          queued.push_back(i);
        } else {
          Finish(probes[i], {Verdict::Error, result.step.error});
        }
      }
      naming.erase(it);
    }
    while (open.size() < budget && !queued.empty()) {
      const std::size_t i = queued.front();
      queued.pop_front();
      Start(probes[i], targets[i], dialogue, udp);
      if (probes[i].phase != Phase::Done) open.push_back(i);
    }
    if (open.empty() && queued.empty() && naming.empty()) return;

    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      for (Probe& probe : probes) Expire(probe, udp);
      return;
    }
    // Without a waker the lookups are looked at now and then.
    auto wait_ms = naming.empty() || resolver.socket() != net::kNoSocket
                       ? left
                       : std::min<decltype(left)>(left, 50);
    std::vector<net::Watch> watches;
    std::vector<std::size_t> watched;
    for (const std::size_t i : open) {
      Probe& probe = probes[i];
      if (probe.phase != Phase::Closing) {
        watches.push_back({probe.socket, probe.phase != Phase::Receiving});
        watched.push_back(i);
        continue;
      }
      // A socket at its end reads ready for ever: its reset is looked for once, when due.
      const auto due =
          std::chrono::ceil<std::chrono::milliseconds>(probe.closed_at + kResetGrace - Clock::now())
              .count();
      if (due <= 0) {
        Settle(probe);
      } else {
        wait_ms = std::min(wait_ms, due);
      }
    }
    if (!naming.empty() && resolver.socket() != net::kNoSocket)
      watches.push_back({resolver.socket(), false});
    const std::vector<net::Ready> ready = net::Wait(watches, static_cast<int>(wait_ms));
    for (std::size_t w = 0; w < watched.size(); ++w) {
      if (ready[w].ready) Advance(probes[watched[w]], dialogue, udp);
    }
    std::erase_if(open, [&](std::size_t i) { return probes[i].phase == Phase::Done; });
  }
}

}  // namespace

Dialogue OneMessage(std::string payload, ReplyRule rule) {
  return {std::move(payload), [rule](std::size_t, std::string_view reply) {
            return Turn{rule(reply), {}};
          }};
}

std::vector<Answer> AskAll(const std::vector<Target>& targets, const Dialogue& dialogue,
                           Transport transport, int timeout_ms) {
  // One deadline for the whole hall, from the start.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<Probe> probes(targets.size());
  net::Library library;
  if (!library.ok()) {
    for (Probe& probe : probes) probe.outcome = {Verdict::Error, "no socket library"};
  } else {
    Run(targets, probes, dialogue, transport == Transport::Udp, deadline);
  }
  std::vector<Answer> answers;
  for (Probe& probe : probes) answers.push_back({std::move(probe.outcome), probe.round_trip});
  return answers;
}

std::vector<Answer> AskAll(const std::vector<Target>& targets, const std::string& payload,
                           Transport transport, int timeout_ms, ReplyRule rule) {
  return AskAll(targets, OneMessage(payload, rule), transport, timeout_ms);
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
