#include "load.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qyr::load {

Clock::duration FromSeconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int StartConnect(int port, std::uint32_t source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source != 0) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) < 0) {
      close(fd);
      return -1;
    }
  }
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

// Waits for the connect to finish; false on failure or when the deadline passes.
bool AwaitConnect(int fd, Clock::time_point deadline) {
  pollfd p{fd, POLLOUT, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) return ConnectDone(fd);
    if (r < 0 && errno != EINTR) return false;
  }
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

int ConnectUdp(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::optional<Reply> TakeReply(std::string& pending) {
  auto take = [&pending](std::size_t n, Reply r) {
    pending.erase(0, n);
    return r;
  };
  if (pending.starts_with("OK")) return take(2, Reply::kOk);
  if (pending.starts_with("ERR")) return take(3, Reply::kErr);
  const bool partial = pending.size() < 3 && (std::string_view("ERR").starts_with(pending) ||
                                              std::string_view("OK").starts_with(pending));
  if (pending.empty() || partial) return std::nullopt;
  return take(pending.size(), Reply::kBad);
}

bool SendCheck(Conn& c) {
  c.sent_at = Clock::now();
  return send(c.fd, kCheck.data(), kCheck.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(kCheck.size());
}

// Reads what has arrived; the replies completed, or nullopt when the connection is lost.
std::optional<std::vector<Reply>> ReadReplies(Conn& c) {
  char buf[256];
  const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::vector<Reply>{};
  if (n <= 0) return std::nullopt;
  c.pending.append(buf, static_cast<std::size_t>(n));
  std::vector<Reply> replies;
  while (const auto r = TakeReply(c.pending)) replies.push_back(*r);
  return replies;
}

// One round trip on a connection with nothing else in flight: microseconds, or nullopt.
std::optional<double> RoundTrip(Conn& c, Clock::time_point deadline, long& errs) {
  if (!SendCheck(c)) return std::nullopt;
  pollfd p{c.fd, POLLIN, 0};
  while (Clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    const auto replies = ReadReplies(c);
    if (!replies) return std::nullopt;
    if (replies->empty()) continue;
    const double us = Seconds(Clock::now() - c.sent_at) * 1e6;
    for (const Reply r : *replies) errs += r == Reply::kOk ? 0 : 1;
    return us;
  }
  return std::nullopt;
}

// Bytes of one reply that may span reads: until `enough` bytes have come or the deadline.
std::optional<std::string> ReadExactly(int fd, std::size_t enough, Clock::time_point deadline) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  while (got.size() < enough && Clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

bool SendText(int fd, std::string_view text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// CPU time of all of a process's threads so far, in nanoseconds (0 for no process).
std::uint64_t CpuNs(int pid) {
  if (pid <= 0) return 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  std::uint64_t sum = 0;
  if (DIR* tasks = opendir(dir.c_str())) {
    while (const dirent* task = readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      std::ifstream stat(dir + "/" + task->d_name + "/schedstat");
      std::uint64_t ns = 0;
      if (stat >> ns) sum += ns;
    }
    closedir(tasks);
  }
  return sum;
}

std::uint64_t CpuNs(const std::vector<int>& pids) {
  std::uint64_t sum = 0;
  for (const int pid : pids) sum += CpuNs(pid);
  return sum;
}

std::size_t TurnOrder(std::size_t turn, std::size_t k, std::size_t n) {
  const std::size_t j = (turn + k) % n;
  return (turn / n) % 2 == 0 ? j : n - 1 - j;
}

void AwaitQuiet(const std::vector<int>& pids, int min_ms) {
  if (min_ms <= 0) return;
  usleep(static_cast<useconds_t>(min_ms) * 1000);
  // Quiet: under a twentieth of a CPU over 20 ms. A server working through queued notifications
  // takes all of it.
  constexpr std::uint64_t kQuietNs = 1'000'000;
  const auto give_up = Clock::now() + std::chrono::seconds(5);
  for (std::uint64_t before = CpuNs(pids); Clock::now() < give_up;) {
    usleep(20'000);
    const std::uint64_t now = CpuNs(pids);
    if (now - before < kQuietNs) return;
    before = now;
  }
}

}  // namespace qyr::load
