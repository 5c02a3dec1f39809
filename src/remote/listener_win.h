#pragma once
// A listener of the remote control, TCP or UDP: one non-blocking socket (and, for TCP, the
// connections it accepts), whose notifications reach one message-only window on the listener
// thread. It receives, sends and arms notifications; the ConnectionLine decides who reads next,
// what a read hands on (with its source and a way to answer) and when a connection goes.
#include <winsock2.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include <windows.h>

#include "base/window_base_win.h"
#include "base/winsock_win.h"
#include "remote/allow_list.h"
#include "remote/connection_limits.h"
#include "remote/connection_line.h"

namespace qyr {

class Listener : public BaseWindow<Listener> {
 public:
  enum class Kind { kTcp, kUdp };

  // The way back to where a message came from. A datagram's is empty: it is never answered.
  class Reply {
   public:
    Reply() = default;
    void operator()(std::string_view bytes) const;  // sends an answer on the connection
    void Close() const;  // lets it go: nothing more is read, answered or sent; it is reset
    explicit operator bool() const { return listener_ != nullptr; }

   private:
    friend class Listener;
    Reply(Listener* listener, SOCKET s, std::uint64_t id)
        : listener_(listener), socket_(s), id_(id) {}
    Listener* listener_ = nullptr;
    SOCKET socket_ = INVALID_SOCKET;
    std::uint64_t id_ = 0;  // the connection's, so a handle taken over by another is not touched
  };
  struct Hooks {
    std::function<void(std::string_view bytes, const Source& from, const Reply& reply)> on_message =
        {};
    // Asked right after a connection is accepted, before anything is read or sent: false closes
    // it at once. Not set: every source is served.
    std::function<bool(const Source& peer)> accepts = {};
    // Told of each connection closed to make room for a new one (ConnectionLimits).
    std::function<void(const Source& peer)> evicted = {};
  };

  Listener(Kind kind, Hooks hooks, ConnectionLimits limits = {});
  ~Listener();

  // Binds and listens on address:port (port 0: one the system picks). Raises ESocketException
  // on failure, leaving the listener closed.
  void Open(Ipv4 address, std::uint16_t port);
  // Closes every connection and the listener, without events.
  void Close();
  bool IsOpen() const { return static_cast<bool>(socket_); }
  std::uint16_t Port() const { return socket_ ? LocalPort(socket_.get()) : 0; }
  SOCKET Handle() const { return socket_.get(); }
  std::size_t ConnectionCount() const { return sockets_.size(); }
  // Bytes received on every socket and not yet handed on.
  std::int64_t BytesWaiting() const;

 private:
  friend class BaseWindow<Listener>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Notify(SOCKET s, WORD events);
  void Accept();
  void Admit(UniqueSocket s, Source peer);
  // Whether a connection from `peer` may be added, after closing one to make room if need be.
  bool MakeRoom(const Source& peer);
  void Serve(bool joined);
  void PostRound();
  void ServeRound();
  void TakeTurn();
  void Send(SOCKET s, std::uint64_t id, std::string_view bytes);
  void SendQueued(SOCKET s);
  // Lets a connection go: nothing more is read or sent; closed once its notifications are past.
  void Release(SOCKET s);
  // A released socket is closed once a message posted after its release comes in: by then every
  // notification queued for it has come and been ignored.
  void AwaitClose(SOCKET s);
  void PostCloseMessage();
  void CloseReleased();
  void Carry(SOCKET s, LineAction action);

  Kind kind_;
  Hooks hooks_;
  ConnectionLimits limits_;
  std::optional<WinsockSession> winsock_;  // from the first Open to Close
  UniqueSocket socket_;
  std::map<SOCKET, UniqueSocket> sockets_;  // the connections' sockets
  ConnectionLine line_;
  bool round_posted_ = false;
  std::vector<SOCKET> released_;       // let go, in order, not closed yet
  std::size_t close_posted_ = 0;       // how many of them the posted close message is for
  int serving_ = 0;                    // rounds on the stack
  std::uint64_t last_connection_ = 0;  // the id given to the latest accepted connection
};

}  // namespace qyr
