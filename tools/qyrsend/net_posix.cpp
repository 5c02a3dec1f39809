#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net.h"

namespace qyrsend::net {

namespace {

Step Fail(int code) {
  if (code == ECONNREFUSED) return {Status::Refused, {}};
  return {Status::Failed, std::strerror(code)};
}

}  // namespace

Library::Library() : ok_(true) {}
Library::~Library() = default;

Step Open(const std::string& host, std::uint16_t port, bool udp, Socket& out) {
  out = kNoSocket;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return {Status::Failed, std::string("cannot resolve: ") + gai_strerror(rc)};
  sockaddr_in address;
  std::memcpy(&address, found->ai_addr, sizeof(address));
  freeaddrinfo(found);

  const int s = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return Fail(errno);
  out = s;
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
    return {Status::Done, {}};
  if (errno == EINPROGRESS) return {Status::Pending, {}};
  return Fail(errno);
}

Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
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

void Close(Socket s) {
  if (s != kNoSocket) close(static_cast<int>(s));
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
