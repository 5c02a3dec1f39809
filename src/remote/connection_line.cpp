#include "remote/connection_line.h"

#include <algorithm>

namespace qyr {

namespace {

constexpr std::size_t kPieceLimit = kHandlerBufferSize;

// What a stream read of `size` bytes hands on: all of them up to the limit; of a backlog (a read
// that filled kReadSize), one byte less than the limit.
std::size_t StreamPiece(std::size_t size) {
  return static_cast<std::size_t>(HandlerReadSize(static_cast<std::int32_t>(size)));
}

}  // namespace

void ConnectionLine::CountServed(const Connection& connection, int by) {
  if (!connection.peer.tcp) return;
  const Ipv4 source = connection.peer.address;
  if (by > 0) {
    ++served_;
    ++served_from_[source];
    return;
  }
  --served_;
  if (--served_from_[source] == 0) served_from_.erase(source);
}

void ConnectionLine::Add(Key key, const Source& peer, std::uint64_t now_ms) {
  if (const Connection* before = Find(key); before != nullptr && before->Serving()) {
    CountServed(*before, -1);
  }
  Connection& connection = connections_.insert_or_assign(key, Connection()).first->second;
  connection.peer = peer;
  connection.active_ms = now_ms;
  CountServed(connection, 1);
  // A connection may have sent before it was taken; its read notification comes only after
  // everything queued meanwhile. A turn that finds nothing costs one read.
  if (peer.tcp) GetInLine(key, connection);
}

void ConnectionLine::Clear() {
  connections_.clear();
  line_.clear();
  served_ = 0;
  served_from_.clear();
}

bool ConnectionLine::BytesWait(Key key) {
  Connection* connection = Find(key);
  return connection != nullptr && GetInLine(key, *connection);
}

bool ConnectionLine::PeerClosed(Key key) {
  Connection* connection = Find(key);
  if (connection == nullptr || connection->life != Life::kOpen) return false;
  connection->life = Life::kClosing;
  return GetInLine(key, *connection);
}

std::optional<ConnectionLine::Key> ConnectionLine::Next() {
  if (line_.empty()) return std::nullopt;
  const Key key = line_.front();
  line_.pop_front();
  Connection* connection = Find(key);
  if (connection == nullptr || !connection->in_line) return std::nullopt;
  connection->in_line = false;
  if (!connection->Serving()) return std::nullopt;  // let go since it got in line
  return key;
}

std::string_view ConnectionLine::Kept(Key key) const {
  const Connection* connection = Find(key);
  return connection != nullptr ? std::string_view(connection->kept) : std::string_view();
}

std::optional<Piece> ConnectionLine::Received(Key key, std::string_view got, ReadEnd end,
                                              std::uint64_t now_ms) {
  Connection* found = Find(key);
  if (found == nullptr || !found->Serving()) return std::nullopt;
  Connection& connection = *found;
  std::optional<Piece> piece;
  if (!connection.peer.tcp) {
    // A datagram comes whole or not at all: one too long for the handler is lost, and an empty
    // message stands for it.
    if (end != ReadEnd::kWouldBlock) {
      piece = Piece{.size = got.size() <= kPieceLimit ? got.size() : 0,
                    .again = end != ReadEnd::kFailed};
    }
  } else if (!got.empty()) {
    piece = Piece{StreamPiece(got.size())};
    connection.kept.assign(got.substr(piece->size));
  } else if (end == ReadEnd::kEnd || connection.life == Life::kClosing) {
    // The peer's end, also when its close is not announced yet: the empty read, then the close.
    connection.life = Life::kClosing;
    piece = Piece{0, true};
  }
  // Otherwise a late notification, or a failed read of an open connection: nothing to hand on.
  if (!piece) return piece;
  connection.active_ms = now_ms;
  ++connection.handlers;
  return piece;
}

LineAction ConnectionLine::Handled(Key key, const Piece& piece) {
  const auto it = connections_.find(key);
  if (it == connections_.end()) return LineAction::kNone;
  Connection& connection = it->second;
  --connection.handlers;
  if (connection.life == Life::kClosed) {
    if (connection.handlers > 0) return LineAction::kNone;
    connections_.erase(it);
    return LineAction::kClose;
  }
  if (!connection.Serving()) return LineAction::kNone;
  if (piece.last) return Release(key) ? LineAction::kLetGo : LineAction::kNone;
  // A datagram socket reads on until nothing waits: a flood must not wait for notifications
  // while the system's queue fills and drops what comes last.
  if (piece.again || connection.life == Life::kClosing || !connection.kept.empty()) {
    GetInLine(key, connection);
  }
  return LineAction::kNone;
}

bool ConnectionLine::Serves(Key key, std::uint64_t id) const {
  const Connection* connection = Find(key);
  return connection != nullptr && connection->Serving() && connection->peer.connection == id;
}

std::optional<Source> ConnectionLine::PeerOf(Key key) const {
  const Connection* connection = Find(key);
  if (connection == nullptr || !connection->Serving()) return std::nullopt;
  return connection->peer;
}

SendQueue* ConnectionLine::Outgoing(Key key) {
  Connection* connection = Find(key);
  return connection != nullptr && connection->Serving() ? &connection->queue : nullptr;
}

void ConnectionLine::Sent(Key key, std::uint64_t now_ms) {
  if (Connection* connection = Find(key)) connection->active_ms = now_ms;
}

bool ConnectionLine::Release(Key key) {
  Connection* connection = Find(key);
  if (connection == nullptr || !connection->Serving()) return false;
  CountServed(*connection, -1);
  connection->life = Life::kReleased;
  connection->queue.Clear();
  connection->kept.clear();
  return true;
}

LineAction ConnectionLine::Drained(Key key) {
  const auto it = connections_.find(key);
  if (it == connections_.end() || it->second.life != Life::kReleased) return LineAction::kNone;
  it->second.life = Life::kClosed;
  if (it->second.handlers > 0) return LineAction::kNone;
  connections_.erase(it);
  return LineAction::kClose;
}

ConnectionLine::Room ConnectionLine::RoomFor(Ipv4 source, const ConnectionLimits& limits,
                                             std::uint64_t now_ms) const {
  const auto own = served_from_.find(source);
  if ((own == served_from_.end() || own->second < limits.per_source) && served_ < limits.total) {
    return {};
  }
  std::vector<HeldConnection> table;
  std::vector<Key> keys;
  for (const auto& [key, connection] : connections_) {
    if (!connection.peer.tcp || !connection.Serving()) continue;
    table.push_back({connection.peer.address, connection.peer.connection,
                     now_ms - connection.active_ms, connection.InUse()});
    keys.push_back(key);
  }
  const AdmissionChoice choice = ChooseAdmission(table, source, limits);
  if (choice.admission != Admission::kEvict) return {choice.admission};
  return {Admission::kEvict, keys[choice.victim]};
}

std::optional<ConnectionLine::Life> ConnectionLine::LifeOf(Key key) const {
  const Connection* connection = Find(key);
  if (connection == nullptr) return std::nullopt;
  return connection->life;
}

std::size_t ConnectionLine::KeptBytes() const {
  std::size_t total = 0;
  for (const auto& [key, connection] : connections_) total += connection.kept.size();
  return total;
}

bool ConnectionLine::GetInLine(Key key, Connection& connection) {
  if (connection.in_line || !connection.Serving()) return false;
  connection.in_line = true;
  line_.push_back(key);
  return true;
}

ConnectionLine::Connection* ConnectionLine::Find(Key key) {
  const auto it = connections_.find(key);
  return it != connections_.end() ? &it->second : nullptr;
}

const ConnectionLine::Connection* ConnectionLine::Find(Key key) const {
  const auto it = connections_.find(key);
  return it != connections_.end() ? &it->second : nullptr;
}

RoundStep Rounds::Next(std::size_t waiting) {
  if (waiting == 0) return RoundStep::kDone;
  if (turns_left_ == 0) {
    if (rounds_ == kRoundsPerMessage) return RoundStep::kDone;
    if (reads_ >= kReadsBetweenLooks) {
      reads_ = 0;
      return RoundStep::kLook;
    }
    ++rounds_;
    turns_left_ = waiting;
  }
  --turns_left_;
  ++reads_;
  return RoundStep::kTurn;
}

ReadEnd EndOfRead(int n, int error, bool stream) {
  if (n > 0) return ReadEnd::kBytes;
  if (n == 0) return ReadEnd::kEnd;
  if (error == kWsaWouldBlock) return ReadEnd::kWouldBlock;
  return error == kWsaMessageTooLong && !stream ? ReadEnd::kTooLong : ReadEnd::kFailed;
}

bool LostTheConnection(int error) {
  return error == kWsaConnectionReset || error == kWsaNotASocket || error == kWsaNotConnected ||
         error == kWsaInvalidArgument || error == kWsaConnectionAborted;
}

AcceptStep AfterAccept(int taken, bool none_waits) {
  if (none_waits) return AcceptStep::kRearm;
  return taken < kAcceptsPerNotification ? AcceptStep::kAnother : AcceptStep::kStop;
}

}  // namespace qyr
