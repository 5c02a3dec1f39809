#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net.h"
#include "net_address.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qyrsend::net {

namespace {

Step Fail(int code) {
  if (code == ECONNREFUSED) return {Status::Refused, {}};
  // A write after the peer's reset is a broken pipe: the same drop.
  if (code == ECONNRESET || code == EPIPE) return {Status::Reset, std::strerror(ECONNRESET)};
  return {Status::Failed, std::strerror(code)};
}

// File descriptors kept back from the sockets of the hosts: the standard streams, the resolver's
// own sockets and files, the waker.
constexpr rlim_t kReservedFiles = 64;
// Past this many at once a hall gains nothing: its replies come faster than they are read.
constexpr rlim_t kMostSockets = 1 << 16;

}  // namespace

std::string ResolveErrorText(int code) { return gai_strerror(code); }

Library::Library() : ok_(true) {}
Library::~Library() = default;

std::size_t SocketBudget() {
  rlimit limit = {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1;
  const rlim_t wanted = std::min(limit.rlim_max, kMostSockets + kReservedFiles);
  if (limit.rlim_cur < wanted) {
    const rlimit raised = {wanted, limit.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = wanted;
  }
  return limit.rlim_cur > kReservedFiles * 2
             ? static_cast<std::size_t>(limit.rlim_cur - kReservedFiles)
             : static_cast<std::size_t>(limit.rlim_cur / 2 + 1);
}

Step Open(std::uint32_t address, std::uint16_t port, bool udp, Socket& out) {
  out = kNoSocket;
  const sockaddr_in to = SocketAddress(address, port);
  const int s = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return Fail(errno);
  out = s;
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0)
    return {Status::Done, {}};
  if (errno == EINPROGRESS) return {Status::Pending, {}};
  return Fail(errno);
}

Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes) {
  const sockaddr_in to = SocketAddress(address, port);
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return Fail(errno);
  const int on = 1;
  Step step{Status::Done, {}};
  if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) != 0 ||
      sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof(to)) != static_cast<ssize_t>(bytes.size())) {
    step = Fail(errno);
  }
  close(s);
  return step;
}

Step ConnectResult(Socket s) {
  int code = 0;
  socklen_t len = sizeof(code);
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &code, &len) != 0) return Fail(errno);
  return code == 0 ? Step{Status::Done, {}} : Fail(code);
}

Step Send(Socket s, std::string_view bytes, std::size_t& sent) {
  while (sent < bytes.size()) {
    const ssize_t n =
        send(static_cast<int>(s), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {Status::Pending, {}};
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    sent += static_cast<std::size_t>(n);
  }
  return {Status::Done, {}};
}

Step Receive(Socket s, std::string& out) {
  char buffer[1024];
  for (;;) {
    const ssize_t n = recv(static_cast<int>(s), buffer, sizeof(buffer), 0);
    if (n >= 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      return {Status::Done, {}};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {Status::Pending, {}};
    if (errno != EINTR) return Fail(errno);
  }
}

bool WasReset(Socket s) {
  int code = 0;
  socklen_t len = sizeof(code);
  // A reset after the peer's close is a broken pipe to the kernel.
  return getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &code, &len) == 0 &&
         (code == ECONNRESET || code == EPIPE);
}

void Close(Socket s) {
  if (s != kNoSocket) close(static_cast<int>(s));
}

void OwnPort(Socket s) {
  // Not SO_REUSEPORT: that lets a second process of the user listen on the same port.
  const int yes = 1;
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
}

Waker::Waker() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return;
  read_ = ends[0];
  write_ = ends[1];
}

Waker::~Waker() {
  Close(read_);
  Close(write_);
}

void Waker::Wake() {
  // Full means a wake is pending already.
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = send(static_cast<int>(write_), &byte, 1, MSG_NOSIGNAL);
}

void Waker::Drain() {
  char buffer[64];
  while (recv(static_cast<int>(read_), buffer, sizeof(buffer), 0) > 0) {
  }
}

std::vector<Ready> Wait(const std::vector<Watch>& watches, int timeout_ms) {
  std::vector<pollfd> fds;
  for (const Watch& w : watches)
    fds.push_back({static_cast<int>(w.socket), static_cast<short>(w.write ? POLLOUT : POLLIN), 0});
  std::vector<Ready> ready(watches.size());
  if (poll(fds.data(), fds.size(), timeout_ms) <= 0) return ready;
  for (std::size_t i = 0; i < fds.size(); ++i) ready[i].ready = fds[i].revents != 0;
  return ready;
}

}  // namespace qyrsend::net
