#pragma once
// Owners for Windows Sockets: one socket handle, and the process's use of the library; its
// failures.
#include <winsock2.h>

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

}  // namespace qyr
