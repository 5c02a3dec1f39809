#pragma once
// A listener of the remote control, TCP or UDP: one non-blocking socket (and, for TCP, the
// connections it accepts), whose notifications all reach one message-only window on the GUI
// thread. Sockets with bytes waiting stand in one line and are served one read a turn, in order,
// so that no peer can hold the others however fast it sends. Each read (at most 1,024 bytes;
// a backlog goes in 1,023-byte pieces; after a peer's close what is left, then the empty read)
// is handed to the handler with its source and a way to answer it or close its connection. A
// source holds a bounded number of connections, and so do all together (ConnectionLimits).
#include <winsock2.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include <windows.h>

#include "base/errors.h"
#include "base/window_base_win.h"
#include "base/winsock_win.h"
#include "remote/allow_list.h"
#include "remote/connection_limits.h"
#include "remote/send_queue.h"

namespace qyr {

// A Windows Sockets failure: the error code and the step that failed.
class ESocketException : public AppError {
 public:
  ESocketException(int code, std::string_view step);
  int Code() const { return code_; }

 private:
  int code_;
};

class Listener : public BaseWindow<Listener> {
 public:
  enum class Kind { kTcp, kUdp };

  // The way back to where a message came from. A datagram's is empty: it is never answered.
  class Reply {
   public:
    Reply() = default;
    // Sends an answer on the connection.
    void operator()(std::string_view bytes) const;
    // Lets the connection go: nothing more of it is read, answered or sent; it is reset.
    void Close() const;
    explicit operator bool() const { return listener_ != nullptr; }

   private:
    friend class Listener;
    Reply(Listener* listener, SOCKET s, std::uint64_t id)
        : listener_(listener), socket_(s), id_(id) {}
    Listener* listener_ = nullptr;
    SOCKET socket_ = INVALID_SOCKET;
    std::uint64_t id_ = 0;  // the connection's, so a handle taken over by another is not touched
  };
  using Handler =
      std::function<void(std::string_view bytes, const Source& from, const Reply& reply)>;

  explicit Listener(Kind kind, ConnectionLimits limits = {});
  ~Listener();

  // Binds and listens on address:port (port 0: one the system picks). Raises ESocketException
  // on failure, leaving the listener closed.
  void Open(Ipv4 address, std::uint16_t port);
  // Closes every connection and the listener, without events.
  void Close();
  bool IsOpen() const { return static_cast<bool>(socket_); }
  std::uint16_t Port() const;  // the port bound, 0 when closed
  SOCKET Handle() const { return socket_.get(); }
  std::size_t ConnectionCount() const { return connections_.size(); }
  // Bytes received on every socket and not yet read.
  std::int64_t BytesWaiting() const;

  Handler on_message;
  // Asked right after a connection is accepted, before anything is read or sent: false closes
  // it at once. Not set: every source is served.
  std::function<bool(const Source& peer)> accepts;
  // Told of each connection closed to make room for a new one (ConnectionLimits).
  std::function<void(const Source& peer)> evicted;

 private:
  friend class BaseWindow<Listener>;
  struct Connection {
    UniqueSocket socket;
    Source peer;
    SendQueue queue;
    bool in_line = false;
    bool closing = false;         // the peer has closed: what is left is read, then the empty read
    int busy = 0;                 // handlers of its messages on the stack
    bool gone = false;            // released: nothing more is read or sent
    bool release_due = false;     // its queued notifications are past: closed once not busy
    std::uint64_t active_ms = 0;  // when it was accepted, last read or last sent on
    bool InUse() const { return in_line || closing || busy > 0 || !queue.Empty(); }
  };
  struct Turn {
    SOCKET socket;
    bool bytes_wait;  // back in line after a turn that found more: no need to ask again
  };
  struct ReadResult {
    bool read = false;      // the handler was given a read
    int bytes = -1;         // what the read returned (-1: failed)
    bool more = false;      // bytes still wait
    bool released = false;  // the connection is gone: nothing of it may be touched
  };

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Notify(SOCKET s, WORD events);
  void Accept();
  // Whether a connection from `peer` may be added, after closing one to make room if need be.
  bool MakeRoom(const Source& peer);
  void GetInLine(SOCKET s, bool& in_line);
  void PostRound();
  void ServeRound();
  bool TakeTurn(const Turn& turn);
  ReadResult ReadOnce(SOCKET s, bool forced, Connection* connection);
  Connection* Find(SOCKET s, std::uint64_t id);
  void Send(SOCKET s, std::uint64_t id, std::string_view bytes);
  void SendQueued(Connection& connection);
  // Lets a connection go: at once nothing more is read or sent, and once the notifications
  // queued for it are past (kWmSocketRelease), its socket is closed (Erase).
  void Release(SOCKET s);
  void Erase(SOCKET s);

  Kind kind_;
  ConnectionLimits limits_;
  std::optional<WinsockSession> winsock_;  // from the first Open to Close
  UniqueSocket socket_;
  std::map<SOCKET, std::unique_ptr<Connection>> connections_;
  std::deque<Turn> line_;
  bool own_in_line_ = false;  // the datagram socket's place in the line
  bool round_posted_ = false;
  int serving_ = 0;                    // rounds on the stack
  std::uint64_t last_connection_ = 0;  // the id given to the latest accepted connection
};

}  // namespace qyr
