#include "remote/listener_win.h"

#include <utility>

#include "base/ids_win.h"
#include "base/scope_guard.h"

namespace qyr {

namespace {

constexpr const wchar_t* kWindowClass = L"QyrListenerWindow";
// Accepted sockets take over these events from the listening one.
constexpr long kEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
// Arrivals faster than the accepts wait in the system's bounded queue, not turned away.
constexpr int kListenBacklog = SOMAXCONN;

// A notification, timer, input or sent message waits for the thread (a repaint can wait).
bool OtherWorkWaits() {
  return HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_SENDMESSAGE)) != 0;
}

Source SourceOf(const sockaddr_in& address, bool tcp) {
  return {tcp, ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

}  // namespace

void Listener::Reply::operator()(std::string_view bytes) const {
  if (listener_ != nullptr) listener_->Send(socket_, id_, bytes);
}

void Listener::Reply::Close() const {
  if (listener_ != nullptr && listener_->line_.Serves(socket_, id_)) listener_->Release(socket_);
}

Listener::Listener(Kind kind, Hooks hooks, ConnectionLimits limits)
    : kind_(kind), hooks_(std::move(hooks)), limits_(limits) {
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
  UniqueSocket s = BoundSocket(tcp ? SOCK_STREAM : SOCK_DGRAM, address, port, kListenBacklog);
  if (WSAAsyncSelect(s.get(), hwnd_, kWmSocketNotify, kEvents) != 0) {
    throw ESocketException(WSAGetLastError(), "WSAAsyncSelect");
  }
  if (!tcp) line_.Add(s.get(), Source{.tcp = false}, 0);
  socket_ = std::move(s);
}

void Listener::Close() {
  line_.Clear();
  released_.clear();
  close_posted_ = 0;
  // Linger is on with 0 s: each connection's close is abortive and immediate.
  for (auto& [s, connection] : sockets_) shutdown(s, SD_SEND);
  sockets_.clear();
  socket_.reset();
  winsock_.reset();
}

std::int64_t Listener::BytesWaiting() const {
  std::int64_t total = socket_ ? BytesPending(socket_.get()).value_or(0) : 0;
  for (const auto& [s, connection] : sockets_) total += BytesPending(s).value_or(0);
  return total + static_cast<std::int64_t>(line_.KeptBytes());
}

LRESULT Listener::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  const auto s = static_cast<SOCKET>(wp);
  if (msg == kWmSocketNotify) {
    Notify(s, WSAGETSELECTEVENT(lp));
  } else if (msg == kWmSocketServe) {
    round_posted_ = false;
    ServeRound();
  } else if (msg == kWmSocketRelease) {
    CloseReleased();
  } else {
    return DefWindowProcW(hwnd_, msg, wp, lp);
  }
  return 0;
}

void Listener::AwaitClose(SOCKET s) {
  released_.push_back(s);
  PostCloseMessage();
}

void Listener::PostCloseMessage() {
  // One message for all that were let go before it: one for each filled the thread's queue under
  // a flood of short connections, and what it could not take was lost, notifications included.
  if (close_posted_ != 0 || released_.empty()) return;
  if (PostMessageW(hwnd_, kWmSocketRelease, 0, 0)) close_posted_ = released_.size();
}

void Listener::CloseReleased() {
  const std::size_t due = std::exchange(close_posted_, 0);
  const std::vector<SOCKET> closing(released_.begin(), released_.begin() + due);
  released_.erase(released_.begin(), released_.begin() + due);
  for (const SOCKET s : closing) Carry(s, line_.Drained(s));
  PostCloseMessage();
}

void Listener::Notify(SOCKET s, WORD events) {
  PostCloseMessage();  // a message that could not be posted before
  if ((events & FD_ACCEPT) != 0 && kind_ == Kind::kTcp && socket_ && s == socket_.get()) Accept();
  // A notification for a socket that is not in the line (any more), or let go, finds nothing.
  if ((events & FD_READ) != 0) Serve(line_.BytesWait(s));
  if ((events & FD_WRITE) != 0) SendQueued(s);
  if ((events & FD_CLOSE) != 0) Serve(line_.PeerClosed(s));
}

void Listener::Accept() {
  for (int taken = 1; socket_; ++taken) {
    sockaddr_in from = {};
    int from_len = sizeof(from);
    UniqueSocket s(accept(socket_.get(), reinterpret_cast<sockaddr*>(&from), &from_len));
    const AcceptStep step = AfterAccept(taken, !s && WSAGetLastError() == WSAEWOULDBLOCK);
    if (step == AcceptStep::kRearm) {
      // Wine does not arm the accept event again after a failed accept: connections arriving
      // later would never be announced. Registering again arms it (and announces any that wait).
      WSAAsyncSelect(socket_.get(), hwnd_, kWmSocketNotify, kEvents);
      return;
    }
    // A connection that is gone before we take it costs only itself.
    if (s) Admit(std::move(s), SourceOf(from, true));
    if (step == AcceptStep::kStop) return;
  }
}

void Listener::Admit(UniqueSocket s, Source peer) {
  peer.connection = ++last_connection_;
  // Linger on with 0 s: closing it later is a reset, nothing kept for the peer.
  const linger reset = {1, 0};
  setsockopt(s.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof(reset));
  const SOCKET key = s.get();
  const bool refused = (hooks_.accepts && !hooks_.accepts(peer)) || !MakeRoom(peer);
  sockets_[key] = std::move(s);
  line_.Add(key, peer, GetTickCount64());
  if (!refused) return PostRound();
  // A reset, without the orderly end; closed once its notifications are past, like a released
  // one, so that a connection accepted next under the same handle does not take them.
  line_.Release(key);
  WSAAsyncSelect(key, hwnd_, 0, 0);
  AwaitClose(key);
}

bool Listener::MakeRoom(const Source& peer) {
  for (int tries = 0; tries < ConnectionLine::kEvictionTries; ++tries) {
    const ConnectionLine::Room room = line_.RoomFor(peer.address, limits_, GetTickCount64());
    if (room.admission != Admission::kEvict) return room.admission == Admission::kAdmit;
    // Bytes that came in since its last read, not noticed yet: it is in use after all.
    if (BytesPending(room.victim).value_or(0) > 0) {
      if (line_.BytesWait(room.victim)) PostRound();
      continue;
    }
    const std::optional<Source> evicted_peer = line_.PeerOf(room.victim);
    Release(room.victim);
    if (hooks_.evicted && evicted_peer) hooks_.evicted(*evicted_peer);
    return true;
  }
  return false;
}

// A socket that joined the line is served at once, with whoever waits before it, when no round
// is under way or posted: a notification costs no posted message. Otherwise the next round
// takes it, in its place in the line.
void Listener::Serve(bool joined) {
  if (!joined) return;
  if (serving_ == 0 && !round_posted_) return ServeRound();
  PostRound();
}

void Listener::PostRound() {
  if (!round_posted_) round_posted_ = PostMessageW(hwnd_, kWmSocketServe, 0, 0) != FALSE;
}

void Listener::ServeRound() {
  ++serving_;
  const ScopeExit next([this] {
    --serving_;
    if (line_.Waiting() > 0) PostRound();
  });
  // A handler's message loop may serve a round inside this one: the line is only ever taken
  // from its front.
  for (Rounds rounds;;) {
    const RoundStep step = rounds.Next(line_.Waiting());
    if (step == RoundStep::kDone || (step == RoundStep::kLook && OtherWorkWaits())) return;
    if (step == RoundStep::kTurn) TakeTurn();
  }
}

void Listener::TakeTurn() {
  const std::optional<ConnectionLine::Key> key = line_.Next();
  if (!key) return;
  const auto s = static_cast<SOCKET>(*key);
  const bool stream = kind_ == Kind::kTcp;
  // One receive a turn: what is beyond the piece is kept for the next turn, and the next read
  // notification, not a query, says that more waits.
  char buffer[kReadSize] = {};
  const std::size_t kept = line_.Kept(*key).copy(buffer, sizeof(buffer));
  sockaddr_in from = {};
  int from_len = sizeof(from);
  const int room = static_cast<int>(sizeof(buffer) - kept);
  const int n =
      stream ? recv(s, buffer + kept, room, 0)
             : recvfrom(s, buffer + kept, room, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
  const ReadEnd end = EndOfRead(n, n < 0 ? WSAGetLastError() : 0, stream);
  const std::string_view got(buffer, kept + (n > 0 ? static_cast<std::size_t>(n) : 0));
  // Whatever the read returned, a datagram's sender is its own, or not known.
  const bool told = from_len >= static_cast<int>(sizeof(from)) && from.sin_family == AF_INET;
  const Source source = stream ? line_.PeerOf(*key).value_or(Source{})
                        : told ? SourceOf(from, false)
                               : Source{.tcp = false, .known = false};
  const std::optional<Piece> piece = line_.Received(*key, got, end, GetTickCount64());
  if (!piece) return;
  const ScopeExit done([&] { Carry(s, line_.Handled(*key, *piece)); });
  if (hooks_.on_message) {
    hooks_.on_message(got.substr(0, piece->size), source,
                      stream ? Reply(this, s, source.connection) : Reply());
  }
}

void Listener::Send(SOCKET s, std::uint64_t id, std::string_view bytes) {
  if (!line_.Serves(s, id) || bytes.empty()) return;
  bool would_block = false;
  if (line_.Outgoing(s)->Empty()) {
    // Nothing waits before it: straight out, and only what the system does not take now waits.
    const int n = send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (LostTheConnection(error)) return Release(s);
      would_block = error == WSAEWOULDBLOCK;
    } else {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      line_.Sent(s, GetTickCount64());
      if (bytes.empty()) return;
    }
  }
  if (!line_.Outgoing(s)->Append(bytes)) {
    // The peer has not read thousands of replies: it is gone or hostile. Let it go.
    Release(s);
    return;
  }
  // After a send that would block, the write notification says when the rest may go.
  if (!would_block) SendQueued(s);
}

void Listener::SendQueued(SOCKET s) {
  for (SendQueue* queue = line_.Outgoing(s); queue != nullptr && !queue->Empty();
       queue = line_.Outgoing(s)) {
    const std::string_view front = queue->Front();
    const int n = send(s, front.data(), static_cast<int>(front.size()), 0);
    if (n == SOCKET_ERROR) {
      // Would block: the rest goes at the next write notification. Lost: closed quietly.
      if (LostTheConnection(WSAGetLastError())) Release(s);
      return;
    }
    queue->Consume(static_cast<std::size_t>(n));
    line_.Sent(s, GetTickCount64());
  }
}

void Listener::Release(SOCKET s) {
  if (line_.Release(s)) Carry(s, LineAction::kLetGo);
}

void Listener::Carry(SOCKET s, LineAction action) {
  if (action == LineAction::kLetGo) {
    shutdown(s, SD_SEND);
    // Closed only once the notifications queued for it have come in and been ignored: closed at
    // once, its handle could go to a new connection, which would take them for its own.
    WSAAsyncSelect(s, hwnd_, 0, 0);
    AwaitClose(s);
  } else if (action == LineAction::kClose) {
    sockets_.erase(s);  // linger 0 s: a reset, at once
  }
}

}  // namespace qyr
