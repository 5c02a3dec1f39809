#pragma once
// The socket components of the remote control: a listener (TCP or UDP) and the client objects
// of the connections it accepts. Non-blocking Windows Sockets whose readiness notifications
// arrive as window messages on the GUI thread, each object at a hidden window of its own.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "base/window_base_win.h"
#include "base/winsock_win.h"
#include "remote/allow_list.h"
#include "remote/send_queue.h"

namespace qyr {

enum class TSocketState { ssClosed, ssBound, ssListening, ssConnected };

// A Windows Sockets failure: the error code and the step that failed.
class ESocketException : public AppError {
 public:
  ESocketException(int code, std::string_view step);
  int Code() const { return code_; }

 private:
  int code_;
};

class TCustomSocket;
class TSocketClient;
class TSocketServer;

using TDataAvailableEvent = std::function<void(TCustomSocket& sender, std::uint16_t err_code)>;
using TSocketClientConnectEvent =
    std::function<void(TSocketServer& sender, TSocketClient& client, std::uint16_t error)>;

// Each object owns a hidden message-only window that its notifications arrive at.
class TCustomSocket : public BaseWindow<TCustomSocket> {
 public:
  TCustomSocket();
  virtual ~TCustomSocket();
  TCustomSocket(const TCustomSocket&) = delete;
  TCustomSocket& operator=(const TCustomSocket&) = delete;

  // Settings, taken as text; they can only change while the object is closed.
  void SetProto(std::string_view proto);
  void SetAddr(std::string_view addr);
  void SetPort(std::string_view port);
  const std::string& Proto() const { return proto_; }
  const std::string& Addr() const { return addr_; }
  const std::string& Port() const { return port_; }

  TSocketState State() const { return state_; }
  std::int32_t LastError() const { return last_error_; }
  SOCKET Handle() const { return socket_.get(); }
  HWND NotifyWindow() const { return hwnd_; }

  // Bytes that can be read now. Raises when the query fails. Inside a read notification the
  // count the receive loop has just asked for is given without asking again.
  std::int32_t PendingCount();
  // One recv of at most `size` bytes: the count read, or -1 with LastError set. Never raises.
  // A datagram socket records the sender of what it read as its Peer, also when the read
  // fails (a datagram too long for the buffer); a sender it cannot tell is not known.
  std::int32_t Receive(void* buffer, std::int32_t size);
  // The other end: a connection's peer, or the sender of the datagram read last.
  const Source& Peer() const { return peer_; }
  // Queues the bytes and sends what the peer takes now; the rest follows on write readiness.
  // Returns `length` (0 when not positive); raises when not connected.
  std::int32_t Send(const void* data, std::int32_t length);

  TDataAvailableEvent OnDataAvailable;

 protected:
  // One readiness notification for socket `s`: events in the order read, write, accept, close.
  // Bytes to read only put the socket in line for its turn (HandleReadable).
  void Notify(SOCKET s, WORD events, WORD error);
  // One read handed to the handler (forced: without first asking whether bytes wait, as at a
  // peer's close, or when the turn before found more).
  // True when more bytes wait, so that the socket wants another turn.
  bool ReadOnce(bool forced);
  void SendQueued();
  // Records the code; a reset or a lost connection closes the socket first. Always throws.
  [[noreturn]] void RaiseSocketError(int code, std::string_view step);
  // Background failure: drop the queue and close without the send shutdown.
  void Abort();
  // Closes the socket (optionally after a send shutdown) and raises the closed event once.
  void CloseSocket(bool shutdown_send, WORD error);
  void DropSocket();
  bool IsStream() const { return stream_; }
  virtual void HandleReadable() {}
  virtual void HandleAccept(WORD /*error*/) {}
  virtual void HandlePeerClose(WORD /*error*/) {}
  virtual void HandleClosed(WORD /*error*/) {}
  virtual bool HandlePrivateMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/) { return false; }
  // Called when the outermost notification on this object has returned.
  virtual void HandleIdle() {}
  // True when a read notification finds nothing at all to read (a late duplicate).
  bool NothingToRead();
  // The bytes waiting now; nothing when the query fails (WSAGetLastError tells why).
  std::optional<std::int32_t> QueryPending() const;

  UniqueSocket socket_;
  TSocketState state_ = TSocketState::ssClosed;
  std::int32_t last_error_ = 0;
  bool stream_ = true;
  SendQueue queue_;
  int busy_ = 0;  // depth of notifications being handled on this object
  std::int32_t known_pending_ = -1;  // counted for this turn, nothing read since
  std::int32_t last_read_ = -1;      // what the last Receive returned
  Source peer_;

 private:
  friend class BaseWindow<TCustomSocket>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  std::string proto_ = "tcp";
  std::string addr_;
  std::string port_;
};

// One accepted TCP connection. Owned by its listener until it is released.
class TSocketClient : public TCustomSocket {
 public:
  explicit TSocketClient(TSocketServer& server);
  ~TSocketClient() override;

  // Takes over an accepted socket from `peer`; false (and the socket closed) if it cannot.
  bool Adopt(UniqueSocket s, const Source& peer);

 private:
  friend class TSocketServer;
  void HandleReadable() override;
  void HandlePeerClose(WORD error) override;
  void HandleClosed(WORD error) override;
  void HandleIdle() override;
  // One turn: one read; after the peer's close, the reads of what is left, then the empty read
  // and the close. True when the client wants another turn. `bytes_wait`: its turn before
  // found more, which nobody else reads.
  bool TakeTurn(bool bytes_wait);
  void FinishClose();

  TSocketServer& server_;
  // Names the client in its posted release; never reused, so a late release can only miss.
  std::uint64_t id_ = 0;
  bool release_posted_ = false;
  bool release_waiting_ = false;  // a release came while a notification was on the stack
  bool in_line_ = false;          // waiting in its listener's line for a turn
  bool closing_ = false;          // the peer has closed; what is left is read in turns
  WORD close_error_ = 0;
};

class TSocketServer : public TCustomSocket {
 public:
  // More connections than this at once are refused, so a flood cannot exhaust the process.
  static constexpr std::size_t kClientCeiling = 5000;

  TSocketServer() = default;
  ~TSocketServer() override;

  // Opens the listener on Addr:Port. Raises ESocketException on failure, leaving it closed.
  void Listen();
  // Closes every connection and the listener, without events.
  void Close();
  // The port the listener is bound to (useful when Port was "0").
  std::uint16_t BoundPort() const;

  std::size_t ClientCount() const { return clients_.size(); }
  TSocketClient* Client(std::size_t i) const { return clients_[i].get(); }

  TSocketClientConnectEvent OnClientConnect;
  // Asked right after a connection is accepted, before anything is read or sent: false closes
  // it at once. Not set: every source is served.
  std::function<bool(const Source& peer)> OnAcceptSource;

 private:
  friend class TSocketClient;
  void HandleReadable() override;
  void HandleAccept(WORD error) override;
  bool HandlePrivateMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void ForwardToClient(SOCKET s, WORD events, WORD error);
  void Release(std::uint64_t id);
  TSocketClient* FindClient(std::uint64_t id) const;

  // Fair service: sockets with bytes waiting stand in one line and get one read a turn, in
  // order, so that no peer can hold the others however fast it sends. A round serves those in
  // line when it starts; the next round is a posted message, behind whatever else has come.
  void GetInLine(std::uint64_t id, bool& in_line);
  void ServeRound();
  void PostRound();
  static constexpr std::uint64_t kOwnSocket = 0;  // a datagram listener's own line entry
  struct Turn {
    std::uint64_t id;
    bool bytes_wait;  // back in line after a turn that found more: no need to ask again
  };
  std::deque<Turn> line_;
  bool own_in_line_ = false;
  bool round_posted_ = false;
  int serving_ = 0;  // rounds on the stack

  std::vector<std::unique_ptr<TSocketClient>> clients_;
  std::uint64_t next_client_id_ = 0;
  std::optional<WinsockSession> winsock_;  // from the first Listen to Close
};

}  // namespace qyr
