#include <winsock2.h>

#include <cstddef>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "net.h"
#include "net_address.h"

#include <ws2tcpip.h>

namespace qyrsend::net {

namespace {

std::string SystemText(int code) {
  wchar_t* text = nullptr;
  const DWORD len = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (len > 0) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), out.data(), bytes, nullptr,
                        nullptr);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
      out.pop_back();
  }
  LocalFree(text);
  return out.empty() ? "Winsock error " + std::to_string(code) : out;
}

Step Fail(int code) {
  if (code == WSAECONNREFUSED) return {Status::Refused, {}};
  // A UDP socket learns of an unreachable port this way too; the sender tells the two apart.
  if (code == WSAECONNRESET || code == WSAECONNABORTED) return {Status::Reset, SystemText(code)};
  return {Status::Failed, SystemText(code)};
}

bool MakeNonBlocking(SOCKET s) {
  u_long nonblocking = 1;
  return ioctlsocket(s, FIONBIO, &nonblocking) == 0;
}

SOCKET Raw(Socket s) { return static_cast<SOCKET>(s); }

// An fd_set of any size: select() reads as many sockets as the count says, FD_SETSIZE only sizes
// the declared array. A whole hall is waited on at once.
class SocketSet {
 public:
  explicit SocketSet(std::size_t capacity) : storage_(kHead + capacity) {}
  void Add(SOCKET s) { storage_[kHead + set()->fd_count++] = s; }
  fd_set* set() { return reinterpret_cast<fd_set*>(storage_.data()); }
  // After select(): the sockets it left in the set, the ready ones.
  void CollectInto(std::unordered_set<SOCKET>& ready) {
    for (u_int i = 0; i < set()->fd_count; ++i) ready.insert(storage_[kHead + i]);
  }

 private:
  static constexpr std::size_t kHead = offsetof(fd_set, fd_array) / sizeof(SOCKET);
  std::vector<SOCKET> storage_;  // zeroed: a count of 0
};

}  // namespace

std::string ResolveErrorText(int code) { return SystemText(code); }

Library::Library() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Library::~Library() {
  if (ok_) WSACleanup();
}

Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes) {
  const sockaddr_in to = SocketAddress(address, port);
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return Fail(WSAGetLastError());
  const BOOL on = TRUE;
  Step step{Status::Done, {}};
  if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) !=
          0 ||
      sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<const sockaddr*>(&to),
             sizeof(to)) != static_cast<int>(bytes.size())) {
    step = Fail(WSAGetLastError());
  }
  closesocket(s);
  return step;
}

// Winsock has no limit of its own, and Wait takes any number.
std::size_t SocketBudget() { return 1 << 16; }

Step Open(std::uint32_t address, std::uint16_t port, bool udp, Socket& out) {
  out = kNoSocket;
  const sockaddr_in to = SocketAddress(address, port);
  const SOCKET s = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return Fail(WSAGetLastError());
  out = static_cast<Socket>(s);
  if (!MakeNonBlocking(s)) return Fail(WSAGetLastError());
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0)
    return {Status::Done, {}};
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return {Status::Pending, {}};
  return Fail(code);
}

Step ConnectResult(Socket s) {
  int code = 0;
  int len = sizeof(code);
  if (getsockopt(Raw(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &len) != 0)
    return Fail(WSAGetLastError());
  return code == 0 ? Step{Status::Done, {}} : Fail(code);
}

Step Send(Socket s, std::string_view bytes, std::size_t& sent) {
  while (sent < bytes.size()) {
    const int n = send(Raw(s), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      return code == WSAEWOULDBLOCK ? Step{Status::Pending, {}} : Fail(code);
    }
    sent += static_cast<std::size_t>(n);
  }
  return {Status::Done, {}};
}

Step Receive(Socket s, std::string& out) {
  char buffer[1024];
  const int n = recv(Raw(s), buffer, sizeof(buffer), 0);
  if (n == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    return code == WSAEWOULDBLOCK ? Step{Status::Pending, {}} : Fail(code);
  }
  out.append(buffer, static_cast<std::size_t>(n));
  return {Status::Done, {}};
}

bool WasReset(Socket s) {
  int code = 0;
  int len = sizeof(code);
  if (getsockopt(Raw(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &len) == 0 &&
      (code == WSAECONNRESET || code == WSAECONNABORTED)) {
    return true;
  }
  // Winsock may keep the reset for the next receive instead.
  char byte = 0;
  return recv(Raw(s), &byte, 1, 0) == SOCKET_ERROR &&
         (WSAGetLastError() == WSAECONNRESET || WSAGetLastError() == WSAECONNABORTED);
}

void Close(Socket s) {
  if (s != kNoSocket) closesocket(Raw(s));
}

void OwnPort(Socket s) {
  // Not SO_REUSEADDR: on Windows that lets any program bind the same port and take its
  // connections.
  const BOOL yes = TRUE;
  setsockopt(Raw(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
             sizeof(yes));
}

// A datagram socket on loopback that sends to itself: select() takes sockets only.
Waker::Waker() {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return;
  sockaddr_in self = {};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof(self);
  if (bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof(self)) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
      connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof(self)) != 0 ||
      !MakeNonBlocking(s)) {
    closesocket(s);
    return;
  }
  read_ = static_cast<Socket>(s);
}

Waker::~Waker() { Close(read_); }

void Waker::Wake() {
  // A datagram that does not go out leaves a wake pending already or none possible.
  const char byte = 1;
  send(Raw(read_), &byte, 1, 0);
}

void Waker::Drain() {
  char buffer[64];
  while (recv(Raw(read_), buffer, sizeof(buffer), 0) > 0) {
  }
}

std::vector<Ready> Wait(const std::vector<Watch>& watches, int timeout_ms) {
  SocketSet reads(watches.size());
  SocketSet writes(watches.size());
  SocketSet errors(watches.size());
  for (const Watch& w : watches) {
    // A failed connect shows up among the errors, not the writable sockets.
    (w.write ? writes : reads).Add(Raw(w.socket));
    errors.Add(Raw(w.socket));
  }
  std::vector<Ready> ready(watches.size());
  timeval limit = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (select(0, reads.set(), writes.set(), errors.set(), &limit) <= 0) return ready;
  std::unordered_set<SOCKET> any;
  reads.CollectInto(any);
  writes.CollectInto(any);
  errors.CollectInto(any);
  for (std::size_t i = 0; i < watches.size(); ++i)
    ready[i].ready = any.contains(Raw(watches[i].socket));
  return ready;
}

}  // namespace qyrsend::net
