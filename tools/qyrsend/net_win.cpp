// FD_SETSIZE before the Winsock header: a whole hall of PCs is waited on at once.
#define FD_SETSIZE 256
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net.h"

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
  // A UDP socket learns of an unreachable port as a reset on its next receive.
  if (code == WSAECONNREFUSED || code == WSAECONNRESET) return {Status::Refused, {}};
  return {Status::Failed, SystemText(code)};
}

SOCKET Raw(Socket s) { return static_cast<SOCKET>(s); }

}  // namespace

Library::Library() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Library::~Library() {
  if (ok_) WSACleanup();
}

Step SendDatagram(std::uint32_t address, std::uint16_t port, std::string_view bytes) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return Fail(WSAGetLastError());
  const BOOL on = TRUE;
  Step step{Status::Done, {}};
  if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) != 0 ||
      sendto(s, bytes.data(), static_cast<int>(bytes.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != static_cast<int>(bytes.size())) {
    step = Fail(WSAGetLastError());
  }
  closesocket(s);
  return step;
}

Step Open(const std::string& host, std::uint16_t port, bool udp, Socket& out) {
  out = kNoSocket;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return {Status::Failed, "cannot resolve: " + SystemText(rc)};
  sockaddr_in address;
  std::memcpy(&address, found->ai_addr, sizeof(address));
  freeaddrinfo(found);

  const SOCKET s = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return Fail(WSAGetLastError());
  out = static_cast<Socket>(s);
  u_long nonblocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) return Fail(WSAGetLastError());
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
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

void Close(Socket s) {
  if (s != kNoSocket) closesocket(Raw(s));
}

std::vector<Ready> Wait(const std::vector<Watch>& watches, int timeout_ms) {
  fd_set reads, writes, errors;
  FD_ZERO(&reads);
  FD_ZERO(&writes);
  FD_ZERO(&errors);
  for (const Watch& w : watches) {
    // A failed connect shows up among the errors, not the writable sockets.
    FD_SET(Raw(w.socket), w.write ? &writes : &reads);
    FD_SET(Raw(w.socket), &errors);
  }
  std::vector<Ready> ready(watches.size());
  timeval limit = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  if (select(0, &reads, &writes, &errors, &limit) <= 0) return ready;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    const SOCKET s = Raw(watches[i].socket);
    ready[i].ready = FD_ISSET(s, &reads) || FD_ISSET(s, &writes) || FD_ISSET(s, &errors);
  }
  return ready;
}

}  // namespace qyrsend::net
