#pragma once
// The control system's side of the tests: plain blocking Windows Sockets on loopback.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/winsock_win.h"
#include "test_support_win.h"

namespace qyr::test {

// The port an installed program listens on.
constexpr std::uint16_t kRemotePort = 26908;

inline sockaddr_in Address(std::uint32_t host, std::uint16_t port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(host);
  return a;
}
inline sockaddr_in Loopback(std::uint16_t port) { return Address(INADDR_LOOPBACK, port); }

// A TCP connection to loopback:port whose reads give up after `reply_wait_ms` and whose small
// writes go at once; invalid when refused.
inline UniqueSocket ConnectLoopback(std::uint16_t port = kRemotePort,
                                    DWORD reply_wait_ms = 5000) {
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const sockaddr_in to = Loopback(port);
  if (!s || connect(s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0) return {};
  setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&reply_wait_ms),
             sizeof(reply_wait_ms));
  const BOOL one = TRUE;
  setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  return s;
}

// One command on a fresh connection: the bytes of the first read that answers it, or
// "<refused>" / "<no reply>".
inline std::string Ask(std::string_view command, std::uint16_t port = kRemotePort,
                       DWORD reply_wait_ms = 5000) {
  const UniqueSocket s = ConnectLoopback(port, reply_wait_ms);
  if (!s) return "<refused>";
  send(s.get(), command.data(), static_cast<int>(command.size()), 0);
  char buf[64];
  const int n = recv(s.get(), buf, sizeof(buf), 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "<no reply>";
}

// Until a check is answered "OK" on the port (messages pumped meanwhile).
inline bool WaitForListener(std::uint16_t port = kRemotePort) {
  return PumpUntil([port] { return Ask("QyrNOR_PC_CHECK", port) == "OK"; },
                   std::chrono::seconds(20));
}

// A socket of ours bound to the port on every address (and listening, for TCP); invalid when
// the port is taken.
inline UniqueSocket Occupy(int type, std::uint16_t port = kRemotePort) {
  UniqueSocket s(socket(AF_INET, type, 0));
  const sockaddr_in a = Address(INADDR_ANY, port);
  if (!s || bind(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0 ||
      (type == SOCK_STREAM && listen(s.get(), 5) != 0)) {
    return {};
  }
  return s;
}

// Closes with a reset instead of the orderly end.
inline void AbortiveClose(UniqueSocket s) {
  const linger reset = {1, 0};
  setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
             sizeof(reset));
}

}  // namespace qyr::test
