#pragma once
// The control system's side of the tests: plain blocking Windows Sockets on loopback.
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <windows.h>

#include "base/handles_win.h"
#include "base/winsock_win.h"
#include "remote/signature_win.h"
#include "remote/signed_command.h"
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
// writes go at once; invalid when refused. `from` (127.x.y.z) is the address the program sees;
// the system picks one when it is 0.
inline UniqueSocket ConnectLoopback(std::uint16_t port = kRemotePort, DWORD reply_wait_ms = 5000,
                                    std::uint32_t from = 0) {
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const sockaddr_in source = Address(from, 0);
  if (!s || (from != 0 &&
             bind(s.get(), reinterpret_cast<const sockaddr*>(&source), sizeof(source)) != 0)) {
    return {};
  }
  const sockaddr_in to = Loopback(port);
  if (connect(s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0) return {};
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
  setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof(reset));
}

// The first loopback address of the busy peers, and how many come from each: fewer than one
// address may hold, and none from 127.0.0.1, where the test's own new peers come from.
constexpr std::uint32_t kBusyPeersFrom = 0x7F000002;
constexpr int kBusyPeersAnAddress = 50;

// Peers that each send a check again as soon as its answer arrives, from a thread of their own,
// until destroyed: the chat of a busy control system.
class BusyPeers {
 public:
  BusyPeers(int count, std::uint16_t port) {
    for (int i = 0; i < count; ++i) {
      const auto from = kBusyPeersFrom + static_cast<std::uint32_t>(i / kBusyPeersAnAddress);
      peers_.push_back(ConnectLoopback(port, 5000, from));
    }
    thread_ = std::thread([this] { Chat(); });
  }
  ~BusyPeers() {
    stop_ = true;
    thread_.join();
  }
  BusyPeers(const BusyPeers&) = delete;
  BusyPeers& operator=(const BusyPeers&) = delete;

  // Replies that every one of them has had, at least.
  long LeastServed() const { return least_.load(); }

 private:
  void Chat() {
    constexpr std::string_view kCheck = "QyrNOR_PC_CHECK";
    std::vector<WSAPOLLFD> polls;
    std::vector<long> replies(peers_.size());
    for (const UniqueSocket& s : peers_) {
      send(s.get(), kCheck.data(), static_cast<int>(kCheck.size()), 0);
      polls.push_back({s.get(), POLLRDNORM, 0});
    }
    while (!stop_) {
      if (WSAPoll(polls.data(), static_cast<ULONG>(polls.size()), 50) <= 0) continue;
      for (std::size_t i = 0; i < polls.size(); ++i) {
        if (polls[i].revents == 0) continue;
        char buf[256];
        if (recv(polls[i].fd, buf, sizeof(buf), 0) <= 0) {
          polls[i].fd = INVALID_SOCKET;  // gone: WSAPoll skips it from now on
          continue;
        }
        ++replies[i];
        send(polls[i].fd, kCheck.data(), static_cast<int>(kCheck.size()), 0);
      }
      long least = replies.empty() ? 0 : replies[0];
      for (const long r : replies) least = r < least ? r : least;
      least_ = least;
    }
  }

  std::vector<UniqueSocket> peers_;
  std::atomic<bool> stop_{false};
  std::atomic<long> least_{0};
  std::thread thread_;
};

// The bytes of the next read on a connection (up to 256), or "<no reply>".
inline std::string Exchange(const UniqueSocket& s, std::string_view message) {
  send(s.get(), message.data(), static_cast<int>(message.size()), 0);
  char buf[256];
  const int n = recv(s.get(), buf, sizeof(buf), 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "<no reply>";
}

// A hall key pair made by the system for the test, signing as a control system does.
class HallKey {
 public:
  HallKey() {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    algorithm_.reset(algorithm);
    BCRYPT_KEY_HANDLE key = nullptr;
    BCryptGenerateKeyPair(algorithm_.get(), &key, 256, 0);
    key_.reset(key);
    BCryptFinalizeKeyPair(key_.get(), 0);
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
    ULONG size = 0;
    BCryptExportKey(key_.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &size, 0);
    public_hex_ = "04" + HexEncode(blob + sizeof(BCRYPT_ECCKEY_BLOB), 64);
  }
  const std::string& PublicHex() const { return public_hex_; }
  Signature Sign(std::string_view text) const {
    Signature signature{};
    ULONG size = 0;
    Sha256Digest digest = Sha256(text).value_or(Sha256Digest{});
    BCryptSignHash(key_.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                   signature.data(), static_cast<ULONG>(signature.size()), &size, 0);
    return signature;
  }
  // The whole exchange on one connection: the nonce, then the signed command; the last reply.
  std::string SignedAsk(Command command, std::uint16_t port = kRemotePort) const {
    const UniqueSocket s = ConnectLoopback(port);
    const std::optional<std::string> nonce = ParseNonceReply(Exchange(s, "QyrNOR_PC_NONCE"));
    if (!nonce) return "<no nonce>";
    return Exchange(s, SignedCommandMessage(command, Sign(SignedText(command, *nonce))));
  }

 private:
  UniqueAlgorithm algorithm_;
  UniqueCryptKey key_;
  std::string public_hex_;
};

}  // namespace qyr::test
