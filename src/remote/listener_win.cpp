#include "remote/listener_win.h"

#include <string>
#include <utility>
#include <vector>

#include "base/ids_win.h"
#include "base/scope_guard.h"
#include "remote/protocol.h"

namespace qyr {

namespace {

constexpr const wchar_t* kWindowClass = L"QyrListenerWindow";
// Accepted sockets take over these events from the listening one.
constexpr long kEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
// Connections that arrive faster than they are accepted wait in the system's queue instead of
// being turned away; the system bounds the queue.
constexpr int kListenBacklog = SOMAXCONN;
// Rounds one message may serve while nothing else waits for the thread, and reads between two
// looks at the queue.
constexpr int kRoundsPerMessage = 64;
constexpr int kReadsBetweenLooks = 16;
// Connections taken at one accept notification, at most: a connect flood gets its share of the
// thread, not all of it (those still waiting bring another notification). One a notification
// was too few: a crowd arriving together was taken one per pass through the queue, each pass a
// round of those already in, and a new peer queued behind them waited seconds.
constexpr int kAcceptsPerNotification = 64;
// Connections found in use when chosen to make room (bytes that came in unnoticed), at most,
// before the new one is refused instead.
constexpr int kEvictionTries = 16;

// A notification, a timer, input or a sent message waits: a round must let it in. A repaint
// alone does not count; it comes when the flood is over.
bool OtherWorkWaits() {
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_SENDMESSAGE)) != 0;
}

Source SourceOf(const sockaddr_in& address, bool tcp) {
  return {tcp, ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// Send failures after which the connection is beyond use: closed quietly.
bool LostTheConnection(int code) {
  return code == WSAECONNRESET || code == WSAENOTSOCK || code == WSAENOTCONN || code == WSAEINVAL ||
         code == WSAECONNABORTED;
}

// The bytes waiting, or nothing when the query fails.
std::optional<std::int32_t> Pending(SOCKET s) {
  u_long count = 0;
  if (ioctlsocket(s, FIONREAD, &count) != 0) return std::nullopt;
  return static_cast<std::int32_t>(count);
}

// Whether a queue that counts no bytes holds an empty datagram, which also counts 0: a zero-size
// peek tells it from an empty queue.
bool EmptyDatagramWaits(SOCKET s) {
  char probe = 0;
  return recv(s, &probe, 0, MSG_PEEK) != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK;
}

}  // namespace

ESocketException::ESocketException(int code, std::string_view step)
    : AppError("Socket error " + std::to_string(code) + " in " + std::string(step)), code_(code) {}

void Listener::Reply::operator()(std::string_view bytes) const {
  if (listener_ != nullptr) listener_->Send(socket_, id_, bytes);
}

void Listener::Reply::Close() const {
  if (listener_ != nullptr && listener_->Find(socket_, id_) != nullptr) listener_->Release(socket_);
}

Listener::Listener(Kind kind, ConnectionLimits limits) : kind_(kind), limits_(limits) {
  if (!CreateHiddenWindow(kWindowClass, HWND_MESSAGE)) {
    throw ESocketException(static_cast<int>(GetLastError()), "CreateWindow");
  }
}

Listener::~Listener() { Close(); }

void Listener::Open(Ipv4 address, std::uint16_t port) {
  if (socket_) throw ESocketException(WSAEISCONN, "Open");
  if (!winsock_) {
    WinsockSession session(MAKEWORD(1, 1));
    if (!session.ok()) throw ESocketException(session.error(), "WSAStartup");
    winsock_ = std::move(session);
  }
  const bool tcp = kind_ == Kind::kTcp;
  UniqueSocket s(socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, tcp ? IPPROTO_TCP : IPPROTO_UDP));
  if (!s) throw ESocketException(WSAGetLastError(), "socket");
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address);
  if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
    throw ESocketException(WSAGetLastError(), "bind");
  }
  if (tcp && listen(s.get(), kListenBacklog) != 0) {
    throw ESocketException(WSAGetLastError(), "listen");
  }
  if (WSAAsyncSelect(s.get(), hwnd_, kWmSocketNotify, kEvents) != 0) {
    throw ESocketException(WSAGetLastError(), "WSAAsyncSelect");
  }
  socket_ = std::move(s);
}

void Listener::Close() {
  line_.clear();
  own_in_line_ = false;
  // Linger is on with 0 s: each connection's close is abortive and immediate.
  for (auto& [s, connection] : connections_) shutdown(s, SD_SEND);
  connections_.clear();
  socket_.reset();
  winsock_.reset();
}

std::uint16_t Listener::Port() const {
  sockaddr_in local = {};
  int len = sizeof(local);
  if (!socket_ || getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    return 0;
  }
  return ntohs(local.sin_port);
}

std::int64_t Listener::BytesWaiting() const {
  std::int64_t total = socket_ ? Pending(socket_.get()).value_or(0) : 0;
  for (const auto& [s, connection] : connections_) total += Pending(s).value_or(0);
  return total;
}

LRESULT Listener::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmSocketNotify) {
    Notify(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp));
    return 0;
  }
  if (msg == kWmSocketServe) {
    round_posted_ = false;
    ServeRound();
    return 0;
  }
  if (msg == kWmSocketRelease) {
    Erase(static_cast<SOCKET>(wp));
    return 0;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Listener::Notify(SOCKET s, WORD events) {
  if (s == INVALID_SOCKET) return;
  if (socket_ && s == socket_.get()) {
    if ((events & FD_ACCEPT) != 0 && kind_ == Kind::kTcp) Accept();
    if ((events & FD_READ) != 0 && kind_ == Kind::kUdp) GetInLine(s, own_in_line_);
    return;
  }
  // A notification for a socket that is no longer ours is ignored.
  const auto it = connections_.find(s);
  if (it == connections_.end() || it->second->gone) return;
  Connection& connection = *it->second;
  if ((events & FD_READ) != 0) GetInLine(s, connection.in_line);
  if ((events & FD_WRITE) != 0) SendQueued(connection);
  if ((events & FD_CLOSE) != 0 && !connection.closing) {
    connection.closing = true;
    GetInLine(s, connection.in_line);
  }
}

void Listener::Accept() {
  for (int taken = 0; taken < kAcceptsPerNotification && socket_; ++taken) {
    sockaddr_in from = {};
    int from_len = sizeof(from);
    UniqueSocket s(accept(socket_.get(), reinterpret_cast<sockaddr*>(&from), &from_len));
    if (!s && WSAGetLastError() == WSAEWOULDBLOCK) {
      // Taking several a notification leaves notifications behind that find nothing, and Wine
      // does not arm the accept event again after a failed accept: connections arriving later
      // would never be announced. Registering again arms it (and announces any that wait).
      WSAAsyncSelect(socket_.get(), hwnd_, kWmSocketNotify, kEvents);
      return;
    }
    // A connection that is gone before we take it costs only itself.
    if (!s) continue;
    Source peer = SourceOf(from, true);
    peer.connection = ++last_connection_;
    // Linger on with 0 s: closing it later is a reset, nothing kept for the peer.
    const linger reset = {1, 0};
    setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
               sizeof(reset));
    auto connection = std::make_unique<Connection>();
    connection->peer = peer;
    connection->active_ms = GetTickCount64();
    const SOCKET key = s.get();
    connection->socket = std::move(s);
    const bool refused = (accepts && !accepts(peer)) || !MakeRoom(peer);
    Connection& added = *connection;
    connections_[key] = std::move(connection);
    if (!refused) {
      // What it sent before it was taken gets it in line now: its read notification comes only
      // after everything queued meanwhile, a round of the others later.
      if (Pending(key).value_or(0) > 0) GetInLine(key, added.in_line);
      continue;
    }
    // A reset, without the orderly end; closed once its notifications are past, like a released
    // one, so that a connection accepted next under the same handle does not take them.
    connections_[key]->gone = true;
    WSAAsyncSelect(key, hwnd_, 0, 0);
    PostMessageW(hwnd_, kWmSocketRelease, static_cast<WPARAM>(key), 0);
  }
}

bool Listener::MakeRoom(const Source& peer) {
  std::size_t held = 0;
  std::size_t own = 0;
  for (const auto& [s, connection] : connections_) {
    if (connection->gone) continue;
    ++held;
    if (connection->peer.address == peer.address) ++own;
  }
  if (own < limits_.per_source && held < limits_.total) return true;
  const std::uint64_t now = GetTickCount64();
  std::vector<HeldConnection> table;
  std::vector<SOCKET> sockets;
  for (const auto& [s, connection] : connections_) {
    if (connection->gone) continue;
    table.push_back({connection->peer.address, connection->peer.connection,
                     now - connection->active_ms, connection->InUse()});
    sockets.push_back(s);
  }
  for (int tries = 0; tries < kEvictionTries; ++tries) {
    const AdmissionChoice choice = ChooseAdmission(table, peer.address, limits_);
    if (choice.admission != Admission::kEvict) return choice.admission == Admission::kAdmit;
    const SOCKET victim = sockets[choice.victim];
    // Bytes that came in since its last read, not noticed yet: it is in use after all.
    if (Pending(victim).value_or(0) > 0) {
      table[choice.victim].in_use = true;
      continue;
    }
    const Source evicted_peer = connections_[victim]->peer;
    Release(victim);
    if (evicted) evicted(evicted_peer);
    return true;
  }
  return false;
}

void Listener::GetInLine(SOCKET s, bool& in_line) {
  if (in_line) return;
  in_line = true;
  line_.push_back({s, false});
  // Alone and with no round under way, the socket is served at once: a single peer waits for
  // no posted message.
  if (line_.size() == 1 && serving_ == 0 && !round_posted_) {
    ServeRound();
  } else {
    PostRound();
  }
}

void Listener::PostRound() {
  if (round_posted_) return;
  round_posted_ = PostMessageW(hwnd_, kWmSocketServe, 0, 0) != FALSE;
}

void Listener::ServeRound() {
  ++serving_;
  const ScopeExit next([this] {
    --serving_;
    if (!line_.empty()) PostRound();
  });
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
      if (!TakeTurn(turn)) continue;
      bool* in_line = &own_in_line_;
      if (!socket_ || turn.socket != socket_.get()) {
        const auto it = connections_.find(turn.socket);
        if (it == connections_.end()) continue;
        in_line = &it->second->in_line;
      }
      if (!*in_line) {
        *in_line = true;
        line_.push_back({turn.socket, true});
      }
    }
  }
}

bool Listener::TakeTurn(const Turn& turn) {
  if (socket_ && turn.socket == socket_.get()) {
    own_in_line_ = false;
    return ReadOnce(turn.socket, turn.bytes_wait, nullptr).more;
  }
  const auto it = connections_.find(turn.socket);
  if (it == connections_.end() || it->second->gone) return false;  // released since
  Connection& connection = *it->second;
  connection.in_line = false;
  if (!connection.closing) return ReadOnce(turn.socket, turn.bytes_wait, &connection).more;
  // After the close, whatever is still pending is read and answered, one read a turn; then the
  // handler gets the empty message once more, and the connection is released.
  const ReadResult result = ReadOnce(turn.socket, true, &connection);
  if (result.released || connection.gone) return false;
  if (result.bytes > 0) return true;
  Release(turn.socket);
  return false;
}

Listener::ReadResult Listener::ReadOnce(SOCKET s, bool forced, Connection* connection) {
  const bool stream = kind_ == Kind::kTcp;
  ReadResult result;
  const std::optional<std::int32_t> pending = Pending(s);
  // A late notification finds nothing to read.
  if (!forced && pending == 0 && (stream || !EmptyDatagramWaits(s))) return result;
  char buffer[kHandlerBufferSize] = {};
  // A datagram the count missed (0 while the peek finds one waiting) is read with the whole
  // buffer: a read of 0 bytes would throw it away. An empty one reads as empty either way.
  const std::int32_t size = !stream && pending.value_or(0) == 0
                                ? kHandlerBufferSize
                                : HandlerReadSize(pending.value_or(0));
  sockaddr_in from = {};
  int from_len = sizeof(from);
  result.bytes = stream
                     ? recv(s, buffer, size, 0)
                     : recvfrom(s, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
  const int error = result.bytes == SOCKET_ERROR ? WSAGetLastError() : 0;
  // Whatever the read returned, a datagram's sender is its own, or not known.
  Source source = connection != nullptr ? connection->peer : Source{.tcp = false, .known = false};
  if (!stream && from_len >= static_cast<int>(sizeof(from)) && from.sin_family == AF_INET) {
    source = SourceOf(from, false);
  }
  result.read = true;
  if (connection != nullptr) connection->active_ms = GetTickCount64();
  if (on_message) {
    const std::string_view bytes(buffer,
                                 result.bytes > 0 ? static_cast<std::size_t>(result.bytes) : 0);
    if (connection != nullptr) ++connection->busy;
    const ScopeExit done([connection] {
      if (connection != nullptr) --connection->busy;
    });
    on_message(bytes, source,
               connection != nullptr ? Reply(this, s, connection->peer.connection) : Reply());
  }
  if (connection != nullptr && connection->gone) {
    // Released while its handler ran: let go of now that none is on the stack.
    result.released = connection->busy == 0 && connection->release_due;
    if (result.released) Erase(s);
    return result;
  }
  // A datagram too long for the buffer is gone with the failed read; those behind it still
  // want their turns.
  if (error != 0 && !(error == WSAEMSGSIZE && !stream)) return result;
  result.more = Pending(s).value_or(0) > 0;
  return result;
}

Listener::Connection* Listener::Find(SOCKET s, std::uint64_t id) {
  const auto it = connections_.find(s);
  if (it == connections_.end() || it->second->gone || it->second->peer.connection != id) {
    return nullptr;
  }
  return it->second.get();
}

void Listener::Send(SOCKET s, std::uint64_t id, std::string_view bytes) {
  Connection* found = Find(s, id);
  if (found == nullptr || bytes.empty()) return;
  Connection& connection = *found;
  if (!connection.queue.Append(bytes)) {
    // The peer has not read thousands of replies: it is gone or hostile. Let it go.
    Release(s);
    return;
  }
  SendQueued(connection);
}

void Listener::SendQueued(Connection& connection) {
  while (!connection.gone && !connection.queue.Empty()) {
    const std::string_view front = connection.queue.Front();
    const int n = send(connection.socket.get(), front.data(), static_cast<int>(front.size()), 0);
    if (n == SOCKET_ERROR) {
      // Would block: the rest goes at the next write notification. Lost: closed quietly.
      if (LostTheConnection(WSAGetLastError())) Release(connection.socket.get());
      return;
    }
    connection.queue.Consume(static_cast<std::size_t>(n));
    connection.active_ms = GetTickCount64();
  }
}

void Listener::Release(SOCKET s) {
  const auto it = connections_.find(s);
  if (it == connections_.end() || it->second->gone) return;
  Connection& connection = *it->second;
  connection.gone = true;
  connection.queue.Clear();
  shutdown(s, SD_SEND);
  // The socket is closed only once the notifications already queued for it have come in and
  // been ignored: closed at once, its handle could be given to a new connection, which would
  // then take them for its own.
  WSAAsyncSelect(s, hwnd_, 0, 0);
  PostMessageW(hwnd_, kWmSocketRelease, static_cast<WPARAM>(s), 0);
}

void Listener::Erase(SOCKET s) {
  const auto it = connections_.find(s);
  if (it == connections_.end() || !it->second->gone) return;
  it->second->release_due = true;
  // A handler of its own still on the stack (a message loop inside it) keeps it until it returns.
  if (it->second->busy == 0) connections_.erase(it);  // linger 0 s: a reset, at once
}

}  // namespace qyr
