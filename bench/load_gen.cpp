// Load generator for the remote-control port, run natively against the program under Wine.
//
//   qyr_load load  --port P [--conns N] [--msgs M] [--timeout S]
//       N connections, each sends "QyrNOR_PC_CHECK" M times and waits for every reply.
//   qyr_load churn --port P [--count K] [--parallel C] [--timeout S]
//       K connections opened and closed, C at a time; each waits for the server's side to end.
//   qyr_load wait  --port P [--timeout S]
//       Connects until the port accepts; prints the wall-clock time it first did.
//
// Results are printed as key=value lines for bench/run.sh. Loopback only: the address is fixed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::string_view kCheck = "QyrNOR_PC_CHECK";

struct Options {
  std::string mode;
  int port = 0;
  int conns = 8;
  int msgs = 1000;
  int count = 10000;
  int parallel = 32;
  double timeout_s = 60;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: qyr_load load|churn|wait --port P [--conns N] [--msgs M] [--count K]"
               " [--parallel C] [--timeout S]\n");
  std::exit(2);
}

Options ParseArgs(int argc, char** argv) {
  if (argc < 2) Usage();
  Options o;
  o.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--port") o.port = std::atoi(value);
    else if (key == "--conns") o.conns = std::atoi(value);
    else if (key == "--msgs") o.msgs = std::atoi(value);
    else if (key == "--count") o.count = std::atoi(value);
    else if (key == "--parallel") o.parallel = std::atoi(value);
    else if (key == "--timeout") o.timeout_s = std::atof(value);
    else Usage();
  }
  if (o.port <= 0 || o.port > 65535 || o.conns <= 0 || o.msgs < 0 || o.count < 0 ||
      o.parallel <= 0)
    Usage();
  return o;
}

// A non-blocking connect to 127.0.0.1:port; -1 if the socket cannot even be created.
int StartConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  // The server answers each read on its own, so every command must leave as its own segment.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool ConnectDone(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

struct LoadConn {
  int fd = -1;
  bool connected = false;
  int sent = 0;     // commands sent
  int answered = 0; // replies complete
  std::string pending;
  Clock::time_point sent_at;
};

int RunLoad(const Options& o) {
  std::vector<LoadConn> conns(static_cast<std::size_t>(o.conns));
  long ok = 0, err = 0, bad = 0, failed_conns = 0;
  std::vector<double> latencies_us;
  latencies_us.reserve(static_cast<std::size_t>(o.conns) * static_cast<std::size_t>(o.msgs));
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(o.timeout_s));
  for (auto& c : conns) {
    c.fd = StartConnect(o.port);
    if (c.fd < 0) ++failed_conns;
  }
  // The first round trip of each connection waits for the program to accept it, which it does
  // one connection per notification: that is connection set-up, not a command's latency. It is
  // left out of the figures, and the measured commands start together once every connection
  // has had its first reply; otherwise the first connections would run alone while the others
  // are still being accepted, and their latency would meet no competition.
  int warmed = 0;
  auto measured_from = start;
  auto send_next = [&](LoadConn& c) {
    if (c.sent >= o.msgs + 1) return;
    c.sent_at = Clock::now();
    if (send(c.fd, kCheck.data(), kCheck.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kCheck.size())) {
      close(c.fd);
      c.fd = -1;
      ++failed_conns;
      return;
    }
    ++c.sent;
  };
  std::vector<pollfd> pfds;
  std::vector<LoadConn*> owners;
  for (;;) {
    pfds.clear();
    owners.clear();
    for (auto& c : conns) {
      if (c.fd < 0 || c.answered >= o.msgs + 1) continue;
      pfds.push_back({c.fd, static_cast<short>(c.connected ? POLLIN : POLLOUT), 0});
      owners.push_back(&c);
    }
    if (pfds.empty() || Clock::now() >= deadline) break;
    if (poll(pfds.data(), pfds.size(), 100) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < pfds.size(); ++i) {
      LoadConn& c = *owners[i];
      if (pfds[i].revents == 0) continue;
      if (!c.connected) {
        if (!ConnectDone(c.fd)) {
          close(c.fd);
          c.fd = -1;
          ++failed_conns;
          continue;
        }
        c.connected = true;
        send_next(c);
        continue;
      }
      char buf[256];
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n <= 0) {
        if (n < 0 && errno == EAGAIN) continue;
        close(c.fd);
        c.fd = -1;
        ++failed_conns;
        continue;
      }
      c.pending.append(buf, static_cast<std::size_t>(n));
      // One command in flight per connection, so the bytes that came back are its reply.
      while (!c.pending.empty()) {
        std::size_t used = 0;
        const long counted = c.answered > 0 ? 1 : 0;
        if (c.pending.starts_with("OK")) {
          used = 2;
          ok += counted;
        } else if (c.pending.starts_with("ERR")) {
          used = 3;
          err += counted;
        } else if (c.pending.size() >= 3 || !(std::string_view("ERR").starts_with(c.pending) ||
                                               std::string_view("OK").starts_with(c.pending))) {
          used = c.pending.size();
          bad += counted;
        } else {
          break;  // a reply split across reads
        }
        c.pending.erase(0, used);
        ++c.answered;
        if (c.answered > 1) {
          latencies_us.push_back(Seconds(Clock::now() - c.sent_at) * 1e6);
          send_next(c);
        } else if (++warmed == o.conns - failed_conns) {
          // Every connection is ready: all start together, so each round trip meets the same
          // competition from the others.
          measured_from = Clock::now();
          for (auto& other : conns) {
            if (other.fd >= 0) send_next(other);
          }
        }
      }
    }
  }
  const double elapsed = Seconds(Clock::now() - measured_from);
  for (auto& c : conns)
    if (c.fd >= 0) close(c.fd);
  const long expected = static_cast<long>(o.conns) * o.msgs;
  const long received = ok + err + bad;
  std::printf("expected=%ld\nreceived=%ld\nok=%ld\nerr=%ld\nbad=%ld\nfailed_conns=%ld\n", expected,
              received, ok, err, bad, failed_conns);
  std::printf("seconds=%.3f\nthroughput=%.1f\n", elapsed,
              elapsed > 0 ? static_cast<double>(received) / elapsed : 0.0);
  double sum = 0;
  for (const double l : latencies_us) sum += l;
  std::printf("mean_us=%.1f\n", latencies_us.empty() ? 0.0 : sum / static_cast<double>(latencies_us.size()));
  std::printf("p50_us=%.1f\np99_us=%.1f\n", Percentile(latencies_us, 0.50),
              Percentile(latencies_us, 0.99));
  std::printf("max_us=%.1f\n", Percentile(latencies_us, 1.0));
  return ok == expected ? 0 : 1;
}

struct ChurnConn {
  int fd = -1;
  bool connected = false;
  Clock::time_point started;
};

int RunChurn(const Options& o) {
  std::vector<ChurnConn> slots(static_cast<std::size_t>(o.parallel));
  long started = 0, completed = 0, refused = 0, timed_out = 0;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(o.timeout_s));
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
      c.fd = StartConnect(o.port);
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

int RunWait(const Options& o) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(o.timeout_s));
  while (Clock::now() < deadline) {
    const int fd = StartConnect(o.port);
    if (fd >= 0) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 200) == 1 && ConnectDone(fd)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("ready_at=%.3f\n", std::chrono::duration<double>(now).count());
        close(fd);
        return 0;
      }
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("ready_at=none\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  if (o.mode == "load") return RunLoad(o);
  if (o.mode == "churn") return RunChurn(o);
  if (o.mode == "wait") return RunWait(o);
  Usage();
}
