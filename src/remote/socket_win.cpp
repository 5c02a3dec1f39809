#include "remote/socket_win.h"

#include <algorithm>
#include <utility>

#include "base/ids_win.h"
#include "base/scope_guard.h"
#include "base/text.h"

namespace qyr {

namespace {

constexpr const wchar_t* kNotifyClass = L"SocketNotifyWindow";
constexpr long kListenerEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
constexpr long kClientEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
// Connections that arrive faster than they are accepted wait in the system's queue instead of
// being turned away for a second at a time; the system bounds the queue.
constexpr int kListenBacklog = SOMAXCONN;

Source SourceOf(const sockaddr_in& address, bool tcp) {
  return {tcp, ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// The sender a datagram read filled in, or an unknown one when it filled in nothing usable.
Source DatagramSender(const sockaddr_in& from, int from_len) {
  if (from_len < static_cast<int>(sizeof(from)) || from.sin_family != AF_INET) {
    return {.tcp = false, .known = false};
  }
  return SourceOf(from, false);
}


std::string ErrorText(int code, std::string_view step) {
  return "Socket error " + std::to_string(code) + " in " + std::string(step);
}

bool ClosesTheConnection(int code) { return code == WSAECONNRESET || code == WSAENOTCONN; }

// Send failures after which the connection is beyond use: closed quietly, nothing raised.
bool SendLostTheConnection(int code) {
  return code == WSAECONNRESET || code == WSAENOTSOCK || code == WSAENOTCONN ||
         code == WSAEINVAL || code == WSAECONNABORTED;
}

// Rounds one message may serve while nothing else waits for the thread, and reads between two
// looks at the queue.
constexpr int kRoundsPerMessage = 64;
constexpr int kReadsBetweenLooks = 16;

// A notification, a timer, input or a sent message waits: a round must let it in. A repaint
// alone does not count; it comes when the flood is over.
bool OtherWorkWaits() {
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_SENDMESSAGE)) != 0;
}

// Linger on with 0 s makes the close abortive: a reset, nothing kept for the peer.
bool SetLinger(SOCKET s, bool on) {
  linger l = {};
  l.l_onoff = on ? 1 : 0;
  l.l_linger = 0;
  return setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)) == 0;
}

}  // namespace

ESocketException::ESocketException(int code, std::string_view step)
    : AppError(ErrorText(code, step)), code_(code) {}

// ---------------------------------------------------------------------------------------------

TCustomSocket::TCustomSocket() {
  if (!CreateHiddenWindow(kNotifyClass, HWND_MESSAGE)) {
    throw ESocketException(static_cast<int>(GetLastError()), "CreateWindow");
  }
}

TCustomSocket::~TCustomSocket() = default;

LRESULT TCustomSocket::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmSocketNotify) {
    const auto s = static_cast<SOCKET>(wp);
    if (s != INVALID_SOCKET && s == socket_.get()) {
      Notify(s, WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
    } else {
      HandlePrivateMessage(msg, wp, lp);  // a listener passes it on by socket handle
    }
    return 0;
  }
  if (HandlePrivateMessage(msg, wp, lp)) return 0;
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

void TCustomSocket::SetProto(std::string_view proto) {
  if (state_ == TSocketState::ssClosed) proto_ = TrimBlanks(proto);
}
void TCustomSocket::SetAddr(std::string_view addr) {
  if (state_ == TSocketState::ssClosed) addr_ = TrimBlanks(addr);
}
void TCustomSocket::SetPort(std::string_view port) {
  if (state_ == TSocketState::ssClosed) port_ = TrimBlanks(port);
}

void TCustomSocket::Notify(SOCKET s, WORD events, WORD error) {
  ++busy_;
  // Also when an error ends the notification.
  const ScopeExit leave([this] {
    if (--busy_ == 0) HandleIdle();
  });
  try {
    // Fixed order: connect, read, write, accept, close. Each step looks again at the socket,
    // since the one before may have closed it.
    if ((events & FD_READ) != 0 && s == socket_.get()) HandleReadable();
    if ((events & FD_WRITE) != 0 && s == socket_.get()) SendQueued();
    if ((events & FD_ACCEPT) != 0 && s == socket_.get()) HandleAccept(error);
    if ((events & FD_CLOSE) != 0) HandlePeerClose(error);
  } catch (const ESocketException&) {
    // Nobody listens for background socket errors: the object gives up its connection.
    if (s == socket_.get()) Abort();
  }
}

std::optional<std::int32_t> TCustomSocket::QueryPending() const {
  u_long count = 0;
  if (ioctlsocket(socket_.get(), FIONREAD, &count) != 0) return std::nullopt;
  return static_cast<std::int32_t>(count);
}

bool TCustomSocket::NothingToRead() {
  const std::optional<std::int32_t> count = QueryPending();
  if (!count) return false;
  if (*count != 0) {
    known_pending_ = *count;
    return false;
  }
  if (stream_) return true;
  // An empty datagram also counts 0; a zero-size peek tells it from an empty queue.
  char probe = 0;
  if (recv(socket_.get(), &probe, 0, MSG_PEEK) != SOCKET_ERROR) return false;
  return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool TCustomSocket::ReadOnce(bool forced) {
  if (!socket_) return false;
  // The count is good only for this turn: nobody else may be handed a stale one.
  const ScopeExit forget([this] { known_pending_ = -1; });
  if (!forced && NothingToRead()) return false;  // a late notification for data already read
  state_ = TSocketState::ssConnected;
  last_error_ = 0;
  last_read_ = -1;
  try {
    if (OnDataAvailable) {
      OnDataAvailable(*this, 0);
    } else {
      char sink[1024];
      Receive(sink, sizeof(sink));
    }
  } catch (const ESocketException&) {
    return false;  // the handler's socket failure ends this turn only; the connection stays
  }
  // A datagram too long for the buffer is gone with the failed read; those behind it still
  // want their turns.
  const bool datagram_cut = !stream_ && last_error_ == WSAEMSGSIZE;
  if ((last_error_ != 0 && !datagram_cut) || !socket_) return false;
  const std::optional<std::int32_t> count = QueryPending();
  if (!count) {
    last_error_ = WSAGetLastError();
    return false;
  }
  return *count > 0;
}

std::int32_t TCustomSocket::PendingCount() {
  if (known_pending_ >= 0) return std::exchange(known_pending_, -1);
  const std::optional<std::int32_t> count = QueryPending();
  if (!count) RaiseSocketError(WSAGetLastError(), "ioctlsocket");
  return *count;
}

std::int32_t TCustomSocket::Receive(void* buffer, std::int32_t size) {
  known_pending_ = -1;
  sockaddr_in from = {};
  int from_len = sizeof(from);
  const int n = stream_ ? recv(socket_.get(), static_cast<char*>(buffer), size, 0)
                        : recvfrom(socket_.get(), static_cast<char*>(buffer), size, 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
  // Whatever the read returned, the sender is this datagram's, never the one read before.
  if (!stream_) peer_ = DatagramSender(from, from_len);
  if (n == SOCKET_ERROR) {
    last_error_ = WSAGetLastError();
    last_read_ = -1;
    return -1;
  }
  last_error_ = 0;
  last_read_ = n;
  return n;
}

std::int32_t TCustomSocket::Send(const void* data, std::int32_t length) {
  if (state_ != TSocketState::ssConnected) RaiseSocketError(WSAENOTCONN, "Send");
  if (length <= 0) return 0;
  if (!queue_.Append(std::string_view(static_cast<const char*>(data),
                                      static_cast<std::size_t>(length)))) {
    // The peer has not read thousands of replies: it is gone or hostile. Let it go.
    CloseSocket(true, 0);
    return length;
  }
  SendQueued();
  return length;
}

void TCustomSocket::SendQueued() {
  while (socket_ && !queue_.Empty()) {
    const std::string_view front = queue_.Front();
    const int n = send(socket_.get(), front.data(), static_cast<int>(front.size()), 0);
    if (n == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) return;  // the rest goes at the next write notification
      if (SendLostTheConnection(code)) {
        CloseSocket(true, 0);
        return;
      }
      RaiseSocketError(code, "send");
    }
    queue_.Consume(static_cast<std::size_t>(n));
  }
}

void TCustomSocket::RaiseSocketError(int code, std::string_view step) {
  last_error_ = code;
  if (ClosesTheConnection(code) && socket_) {
    DropSocket();
    if (state_ != TSocketState::ssClosed) {
      state_ = TSocketState::ssClosed;
      HandleClosed(static_cast<WORD>(code));
    }
  }
  throw ESocketException(code, step);
}

void TCustomSocket::Abort() {
  queue_.Clear();
  if (!socket_) return;
  if (stream_ && state_ == TSocketState::ssConnected) SetLinger(socket_.get(), false);
  DropSocket();
  state_ = TSocketState::ssClosed;
  HandleClosed(0);
}

void TCustomSocket::CloseSocket(bool shutdown_send, WORD error) {
  queue_.Clear();
  if (socket_) {
    if (shutdown_send) shutdown(socket_.get(), SD_SEND);
    DropSocket();
  }
  if (state_ != TSocketState::ssClosed) {
    state_ = TSocketState::ssClosed;
    HandleClosed(error);
  }
}

void TCustomSocket::DropSocket() { socket_.reset(); }

// ---------------------------------------------------------------------------------------------

TSocketClient::TSocketClient(TSocketServer& server) : server_(server) {}

TSocketClient::~TSocketClient() {
  // Program end or release: linger is on with 0 s, so this close is abortive and immediate.
  if (socket_) {
    shutdown(socket_.get(), SD_SEND);
    DropSocket();
  }
}

bool TSocketClient::Adopt(UniqueSocket s, const Source& peer) {
  socket_ = std::move(s);
  peer_ = peer;
  const bool ok =
      SetLinger(socket_.get(), true) &&
      WSAAsyncSelect(socket_.get(), NotifyWindow(), kWmSocketNotify, kClientEvents) == 0;
  if (!ok) {
    DropSocket();
    return false;
  }
  state_ = TSocketState::ssConnected;
  return true;
}

void TSocketClient::HandleReadable() { server_.GetInLine(id_, in_line_); }

void TSocketClient::HandlePeerClose(WORD error) {
  if (!socket_ || closing_) return;
  closing_ = true;
  close_error_ = error;
  server_.GetInLine(id_, in_line_);
}

bool TSocketClient::TakeTurn(bool bytes_wait) {
  ++busy_;
  const ScopeExit leave([this] {
    if (--busy_ == 0) HandleIdle();
  });
  try {
    if (!closing_) return ReadOnce(bytes_wait);
    // After the close, whatever is still pending is read and answered, one read a turn; then
    // the handler runs once more and answers the empty message.
    ReadOnce(true);
    if (socket_ && last_error_ == 0 && last_read_ > 0) return true;
    FinishClose();
  } catch (const ESocketException&) {
    Abort();  // nobody listens for background socket errors: the client gives up
  }
  return false;
}

void TSocketClient::FinishClose() {
  HandleClosed(close_error_);
  if (state_ != TSocketState::ssClosed || socket_) {
    queue_.Clear();
    if (socket_) {
      shutdown(socket_.get(), SD_SEND);
      DropSocket();
    }
    state_ = TSocketState::ssClosed;
  }
}

void TSocketClient::HandleClosed(WORD error) {
  if (release_posted_) return;
  release_posted_ = true;
  PostMessageW(server_.NotifyWindow(), kWmSocketRelease, error, static_cast<LPARAM>(id_));
}

void TSocketClient::HandleIdle() {
  if (!release_waiting_) return;
  release_waiting_ = false;
  PostMessageW(server_.NotifyWindow(), kWmSocketRelease, 0, static_cast<LPARAM>(id_));
}

// ---------------------------------------------------------------------------------------------

TSocketServer::~TSocketServer() { Close(); }

void TSocketServer::Close() {
  line_.clear();
  own_in_line_ = false;
  clients_.clear();
  queue_.Clear();
  DropSocket();
  state_ = TSocketState::ssClosed;
  winsock_.reset();
}

void TSocketServer::Listen() {
  if (Port().empty() || Proto().empty() || Addr().empty()) RaiseSocketError(WSAEINVAL, "Listen");
  if (socket_) throw ESocketException(WSAEISCONN, "Listen");
  if (!winsock_) {
    WinsockSession session(MAKEWORD(1, 1));
    if (!session.ok()) throw ESocketException(session.error(), "WSAStartup");
    winsock_ = std::move(session);
  }

  const std::string proto = AsciiLower(Proto());
  int type = 0;
  int protocol = 0;
  if (proto == "tcp") {
    type = SOCK_STREAM;
    protocol = IPPROTO_TCP;
  } else if (proto == "udp") {
    type = SOCK_DGRAM;
    protocol = IPPROTO_UDP;
  } else {
    throw ESocketException(WSAEPROTONOSUPPORT, "Cannot resolve protocol '" + Proto() + "'");
  }
  const std::optional<std::uint16_t> port = ParsePort(Port());
  if (!port) throw ESocketException(WSAEINVAL, "Cannot resolve port '" + Port() + "'");
  const std::optional<Ipv4> address = ParseIpv4(Addr());
  if (!address) throw ESocketException(WSAEINVAL, "Cannot resolve address '" + Addr() + "'");
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(*port);
  local.sin_addr.s_addr = htonl(*address);

  queue_.Clear();
  stream_ = type == SOCK_STREAM;
  socket_.reset(socket(AF_INET, type, protocol));
  if (!socket_) RaiseSocketError(WSAGetLastError(), "socket");
  const SOCKET s = socket_.get();
  auto fail = [this](std::string_view step) {
    const int code = WSAGetLastError();
    DropSocket();  // a failed listener holds nothing
    state_ = TSocketState::ssClosed;
    throw ESocketException(code, step);
  };
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) fail("bind");
  state_ = TSocketState::ssBound;
  if (stream_) {
    if (listen(s, kListenBacklog) != 0) fail("listen");
    state_ = TSocketState::ssListening;
  } else {
    state_ = TSocketState::ssConnected;  // a datagram listener reads at once
  }
  if (WSAAsyncSelect(s, NotifyWindow(), kWmSocketNotify, kListenerEvents) != 0) {
    fail("WSAAsyncSelect");
  }
  if (!stream_) peer_ = {.tcp = false, .known = false};  // nothing read yet
}

std::uint16_t TSocketServer::BoundPort() const {
  sockaddr_in local = {};
  int len = sizeof(local);
  if (!socket_ ||
      getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    return 0;
  }
  return ntohs(local.sin_port);
}

void TSocketServer::HandleAccept(WORD error) {
  if (error != 0 || !stream_) return;
  sockaddr_in from = {};
  int from_len = sizeof(from);
  UniqueSocket s(accept(socket_.get(), reinterpret_cast<sockaddr*>(&from), &from_len));
  // A connection that is gone before we take it, or one we cannot set up, costs only itself:
  // the listener goes on accepting. One refused is reset, not left to linger.
  if (!s) return;
  const Source peer = SourceOf(from, true);
  if (clients_.size() >= kClientCeiling || (OnAcceptSource && !OnAcceptSource(peer))) {
    SetLinger(s.get(), true);
    return;
  }
  std::unique_ptr<TSocketClient> owned;
  try {
    owned = std::make_unique<TSocketClient>(*this);
  } catch (const ESocketException&) {
    SetLinger(s.get(), true);
    return;
  }
  if (!owned->Adopt(std::move(s), peer)) return;
  owned->id_ = ++next_client_id_;
  TSocketClient* client = owned.get();
  clients_.push_back(std::move(owned));
  if (OnClientConnect) OnClientConnect(*this, *client, error);
}

bool TSocketServer::HandlePrivateMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmSocketNotify) {
    // An accepted socket reports with its listener's message until its client has registered.
    ForwardToClient(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp));
    return true;
  }
  if (msg == kWmSocketRelease) {
    Release(static_cast<std::uint64_t>(lp));
    return true;
  }
  if (msg == kWmSocketServe) {
    round_posted_ = false;
    ServeRound();
    return true;
  }
  return false;
}

void TSocketServer::HandleReadable() {
  if (!stream_) GetInLine(kOwnSocket, own_in_line_);
}

void TSocketServer::GetInLine(std::uint64_t id, bool& in_line) {
  if (in_line) return;
  in_line = true;
  line_.push_back({id, false});
  // Alone and with no round under way, the socket is served at once: a single peer waits for
  // no posted message.
  if (line_.size() == 1 && serving_ == 0 && !round_posted_) {
    ServeRound();
  } else {
    PostRound();
  }
}

void TSocketServer::PostRound() {
  if (round_posted_) return;
  round_posted_ = PostMessageW(hwnd_, kWmSocketServe, 0, 0) != FALSE;
}

void TSocketServer::ServeRound() {
  ++serving_;
  const ScopeExit next([this] {
    --serving_;
    if (!line_.empty()) PostRound();
  });
  // With nothing else waiting for the thread, the next round follows at once, up to a bound;
  // whether something waits is asked after every kReadsBetweenLooks reads or so.
  int reads = 0;
  for (int round = 0; round < kRoundsPerMessage && !line_.empty(); ++round) {
    if (reads >= kReadsBetweenLooks) {
      if (OtherWorkWaits()) return;
      reads = 0;
    }
    // Those in line now get one read each; who gets back in line waits for the next round. A
    // handler's message loop may serve a round inside this one: the line is only ever taken
    // from its front.
    for (std::size_t turns = line_.size(); turns > 0 && !line_.empty(); --turns, ++reads) {
      const Turn turn = line_.front();
      line_.pop_front();
      if (turn.id == kOwnSocket) {
        own_in_line_ = false;
        if (ReadOnce(turn.bytes_wait) && !own_in_line_) {
          own_in_line_ = true;
          line_.push_back({kOwnSocket, true});
        }
        continue;
      }
      TSocketClient* client = FindClient(turn.id);
      if (client == nullptr) continue;  // released since it got in line
      client->in_line_ = false;
      if (client->TakeTurn(turn.bytes_wait) && !client->in_line_) {
        client->in_line_ = true;
        line_.push_back({turn.id, true});
      }
    }
  }
}

TSocketClient* TSocketServer::FindClient(std::uint64_t id) const {
  for (const auto& client : clients_) {
    if (client->id_ == id) return client.get();
  }
  return nullptr;
}

void TSocketServer::ForwardToClient(SOCKET s, WORD events, WORD error) {
  if (s == INVALID_SOCKET) return;
  for (const auto& client : clients_) {
    if (client->Handle() == s) {
      client->Notify(s, events & ~FD_ACCEPT, error);
      return;
    }
  }
}

void TSocketServer::Release(std::uint64_t id) {
  const auto it = std::find_if(clients_.begin(), clients_.end(),
                               [id](const auto& c) { return c->id_ == id; });
  if (it == clients_.end()) return;
  if ((*it)->busy_ > 0) {
    // Its notification is still on the stack (a nested message loop): the release is asked
    // again once that notification has returned.
    (*it)->release_waiting_ = true;
    return;
  }
  clients_.erase(it);
}

}  // namespace qyr
