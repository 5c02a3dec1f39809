// qyr_load churn --port P [--count K] [--parallel C] [--timeout S]
//       K connections opened and closed, C at a time; each waits for the server's side to end.
#include <cerrno>
#include <cstdio>

#include "load.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qyr::load {

namespace {

struct ChurnConn {
  int fd = -1;
  bool connected = false;
  Clock::time_point started;
};

}  // namespace

int RunChurn(const Options& o) {
  std::vector<ChurnConn> slots(static_cast<std::size_t>(o.parallel));
  long started = 0, completed = 0, refused = 0, timed_out = 0;
  const auto start = Clock::now();
  const auto deadline = start + FromSeconds(o.timeout_s);
  enum class End { kDone, kRefused, kTimedOut };
  auto finish = [&](ChurnConn& c, End end) {
    close(c.fd);
    c.fd = -1;
    c.connected = false;
    (end == End::kDone ? completed : end == End::kRefused ? refused : timed_out)++;
  };
  std::vector<pollfd> pfds;
  std::vector<ChurnConn*> owners;
  while (Clock::now() < deadline) {
    for (auto& c : slots) {
      if (c.fd >= 0 || started >= o.count) continue;
      c.fd = StartConnect(o.ports[0]);
      c.started = Clock::now();
      ++started;
      if (c.fd < 0) ++refused;
    }
    pfds.clear();
    owners.clear();
    for (auto& c : slots) {
      if (c.fd < 0) continue;
      pfds.push_back({c.fd, static_cast<short>(c.connected ? POLLIN : POLLOUT), 0});
      owners.push_back(&c);
    }
    if (pfds.empty()) break;
    if (poll(pfds.data(), pfds.size(), 100) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < pfds.size(); ++i) {
      ChurnConn& c = *owners[i];
      if (pfds[i].revents == 0) {
        if (Clock::now() - c.started > std::chrono::seconds(10)) finish(c, End::kTimedOut);
        continue;
      }
      if (!c.connected) {
        if (!ConnectDone(c.fd)) {
          finish(c, End::kRefused);
          continue;
        }
        // Close our sending side at once and wait until the server has ended its side too,
        // so the count below is of connections the server really saw open and close.
        c.connected = true;
        shutdown(c.fd, SHUT_WR);
        continue;
      }
      char buf[64];
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n > 0 || (n < 0 && errno == EAGAIN)) continue;
      finish(c, End::kDone);  // end of stream or reset: either way the server let go of it
    }
  }
  for (auto& c : slots)
    if (c.fd >= 0) finish(c, End::kTimedOut);
  const double elapsed = Seconds(Clock::now() - start);
  std::printf("requested=%d\ncompleted=%ld\nrefused=%ld\ntimed_out=%ld\nseconds=%.3f\nrate=%.1f\n",
              o.count, completed, refused, timed_out, elapsed,
              elapsed > 0 ? static_cast<double>(completed) / elapsed : 0.0);
  return completed == o.count ? 0 : 1;
}

}  // namespace qyr::load
