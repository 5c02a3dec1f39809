#pragma once
// Owners for Windows Sockets: one socket handle, and the process's use of the library; its
// failures.
#include <winsock2.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>

#include "base/errors.h"
#include "base/handles_win.h"

namespace qyr {

// A Windows Sockets failure: the error code and the step that failed.
class ESocketException : public AppError {
 public:
  ESocketException(int code, std::string_view step)
      : AppError("Socket error " + std::to_string(code) + " in " + std::string(step)),
        code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

struct SocketTraits {
  static SOCKET Invalid() { return INVALID_SOCKET; }
  static void Close(SOCKET s) { closesocket(s); }
};
// A socket, closed when its owner goes.
using UniqueSocket = UniqueHandle<SOCKET, SocketTraits>;

// WSAStartup on construction, the matching WSACleanup when it goes; move-only, so exactly one
// owner answers for each successful start.
class WinsockSession {
 public:
  explicit WinsockSession(WORD version = MAKEWORD(2, 2)) {
    WSADATA data = {};
    error_ = WSAStartup(version, &data);
  }
  ~WinsockSession() {
    if (error_ == 0) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  WinsockSession(WinsockSession&& other) noexcept : error_(std::exchange(other.error_, -1)) {}
  WinsockSession& operator=(WinsockSession&& other) noexcept {
    if (this != &other) {
      if (error_ == 0) WSACleanup();
      error_ = std::exchange(other.error_, -1);
    }
    return *this;
  }

  bool ok() const { return error_ == 0; }
  // WSAStartup's result: 0 when the library is ready.
  int error() const { return error_; }

 private:
  int error_ = -1;
};

// A socket of `type` (SOCK_STREAM listens with `backlog`) bound to address:port, host order;
// port 0: one the system picks. Raises ESocketException naming the step that failed.
inline UniqueSocket BoundSocket(int type, std::uint32_t address, std::uint16_t port, int backlog) {
  const auto check = [](bool ok, const char* step) {
    if (!ok) throw ESocketException(WSAGetLastError(), step);
  };
  UniqueSocket s(socket(AF_INET, type, type == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP));
  check(static_cast<bool>(s), "socket");
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address);
  check(bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0, "bind");
  check(type != SOCK_STREAM || listen(s.get(), backlog) == 0, "listen");
  return s;
}

// The port a socket is bound to, 0 when it is not.
inline std::uint16_t LocalPort(SOCKET s) {
  sockaddr_in local = {};
  int len = sizeof(local);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
  return ntohs(local.sin_port);
}

// The bytes waiting to be read, or nothing when the query fails.
inline std::optional<std::int32_t> BytesPending(SOCKET s) {
  u_long count = 0;
  if (ioctlsocket(s, FIONREAD, &count) != 0) return std::nullopt;
  return static_cast<std::int32_t>(count);
}

}  // namespace qyr
