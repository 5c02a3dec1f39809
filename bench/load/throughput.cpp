// qyr_load throughput --port P [--port P2 ...] [--conns N] [--seconds S] [--slices K]
//                       [--pid PID ...] [--server-pid W] [--pause MS] [--timeout S]
//       N connections to each port, each always with one command in flight while its port is
//       served; counts the replies that arrive within S seconds a port. The ports take turns in
//       K slices of S/K seconds, in the latency mode's order, so load from elsewhere on the
//       machine falls on every server alike. A slice's window starts once each of its connections
//       has been answered (at most 0.1 s, 1 s in a port's first slice, when the server neglects
//       one), and it ends with nothing left in flight. Every connection is waiting or being
//       served for the whole window, so throughput x mean wait = N holds, and a connection the
//       server neglects shows as a low count of its own. With --pid (one per port, in order)
//       the CPU time of that process and of W within the windows is printed per reply. With
//       --pause, at least MS milliseconds pass after each slice, and then, with --pid, until
//       the server and W are all but idle, so that what a server left queued behind its last
//       reply is worked through before the next one is timed; the CPU time it takes meanwhile
//       is counted as the slice's own.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "load.h"

#include <poll.h>
#include <unistd.h>

namespace qyr::load {

namespace {

// One server of a throughput run: its connections and what its windows gave.
struct Target {
  int port = 0;
  int pid = 0;
  std::vector<Conn> conns;
  bool warm = false;  // has had its first, longer warm-up
  double window_s = 0;
  long replies = 0, all = 0, errs = 0, lost = 0;
  std::uint64_t cpu_ns = 0;
  double longest_wait_s = 0;
};

// Serves the connections of one target until `until` says stop; counts replies within
// [start, end). Each connection sends again on its reply while `resend`.
template <typename Until>
void Drive(Target& t, Clock::time_point start, Clock::time_point end, bool resend, Until until) {
  std::vector<pollfd> pfds;
  for (auto& c : t.conns) pfds.push_back({c.fd, POLLIN, 0});
  while (!until()) {
    if (poll(pfds.data(), pfds.size(), 10) < 0 && errno != EINTR) return;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < t.conns.size(); ++i) {
      Conn& c = t.conns[i];
      if (pfds[i].fd < 0 || pfds[i].revents == 0) continue;
      const auto replies = ReadReplies(c);
      if (!replies) {
        pfds[i].fd = -1;
        c.in_flight = false;
        ++t.lost;
        continue;
      }
      if (replies->empty()) continue;
      c.in_flight = false;
      c.answered = true;
      for (const Reply r : *replies) {
        t.errs += r == Reply::kOk ? 0 : 1;
        ++t.all;
        if (now >= start && now < end) ++c.replies;
      }
      // Waits count from the window's start: setting up many connections comes before it.
      if (now >= start && now < end) {
        c.longest_wait_s = std::max(c.longest_wait_s, Seconds(now - std::max(c.sent_at, start)));
      }
      if (resend) c.in_flight = SendCheck(c);
    }
  }
}

// One slice of a target's window: every connection with one command in flight; the window
// starts once each has been answered (or a connection the server neglects has waited long
// enough), and afterwards nothing is left in flight and the server has gone quiet, so the
// next target's slice meets no work left over. The CPU time runs from the window's start until
// then: what a server does after its last reply is its own.
void RunSlice(Target& t, double seconds, int server_pid, int pause_ms) {
  for (auto& c : t.conns) {
    c.answered = false;
    c.in_flight = SendCheck(c);
  }
  const auto first_sent = Clock::now();
  const double longest_warmup_s = t.warm ? 0.1 : 1.0;
  t.warm = true;
  auto all_answered = [&t] {
    return std::all_of(t.conns.begin(), t.conns.end(), [](const Conn& c) { return c.answered; });
  };
  const auto never = Clock::time_point::max();
  Drive(t, never, never, true, [&] {
    return all_answered() || Clock::now() - first_sent >= FromSeconds(longest_warmup_s);
  });
  const std::vector<int> timed = {t.pid, server_pid};
  const std::uint64_t cpu0 = CpuNs(timed);
  const auto start = Clock::now();
  const auto end = start + FromSeconds(seconds);
  Drive(t, start, end, true, [&] { return Clock::now() >= end; });
  t.window_s += seconds;
  for (auto& c : t.conns) {
    // A command still unanswered at the end has waited at least since it was sent.
    if (c.in_flight) {
      c.longest_wait_s = std::max(c.longest_wait_s, Seconds(end - std::max(c.sent_at, start)));
    }
  }
  const auto drained = Clock::now() + std::chrono::seconds(5);
  Drive(t, never, never, false, [&] {
    return Clock::now() >= drained ||
           std::none_of(t.conns.begin(), t.conns.end(), [](const Conn& c) { return c.in_flight; });
  });
  AwaitQuiet(timed, pause_ms);
  t.cpu_ns += CpuNs(timed) - cpu0;
}

}  // namespace

int RunThroughput(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  std::vector<Target> targets(o.ports.size());
  for (std::size_t j = 0; j < targets.size(); ++j) {
    Target& t = targets[j];
    t.port = o.ports[j];
    t.pid = j < o.pids.size() ? o.pids[j] : 0;
    t.conns.resize(static_cast<std::size_t>(o.conns));
    for (auto& c : t.conns) {
      c.fd = StartConnect(t.port);
      if (c.fd < 0 || !AwaitConnect(c.fd, deadline)) {
        std::printf("error=connect_%d\n", t.port);
        return 1;
      }
    }
  }
  // The targets take turns slice by slice, so that load from elsewhere on the machine falls on
  // all alike.
  for (int slice = 0; slice < o.slices; ++slice) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      RunSlice(targets[TurnOrder(static_cast<std::size_t>(slice), k, targets.size())],
               o.seconds / o.slices, o.server_pid, o.pause_ms);
    }
  }
  bool complete = true;
  for (Target& t : targets) {
    long fewest = -1, most = 0;
    for (auto& c : t.conns) {
      t.longest_wait_s = std::max(t.longest_wait_s, c.longest_wait_s);
      close(c.fd);
      t.replies += c.replies;
      fewest = fewest < 0 ? c.replies : std::min(fewest, c.replies);
      most = std::max(most, c.replies);
    }
    const int p = t.port;
    std::printf("replies_%d=%ld\nnot_ok_%d=%ld\nlost_conns_%d=%ld\nwindow_s_%d=%.3f\n", p,
                t.replies, p, t.errs, p, t.lost, p, t.window_s);
    std::printf("throughput_%d=%.1f\nfewest_per_conn_%d=%ld\nmost_per_conn_%d=%ld\n", p,
                t.lost == 0 ? static_cast<double>(t.replies) / t.window_s : 0.0, p, fewest, p,
                most);
    std::printf("longest_wait_ms_%d=%.1f\n", p, t.longest_wait_s * 1e3);
    if (t.pid > 0) {
      std::printf("cpu_us_%d=%.1f\n", p,
                  t.replies > 0
                      ? static_cast<double>(t.cpu_ns) / 1e3 / static_cast<double>(t.replies)
                      : 0.0);
    }
    complete = complete && t.lost == 0 && t.errs == 0;
  }
  return complete ? 0 : 1;
}

}  // namespace qyr::load
