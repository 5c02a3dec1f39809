#pragma once
// The turns of a listener's sockets: those with bytes waiting stand in one line and are served
// one read a turn, in order, so that no peer can hold the others however fast it sends. It says
// what each read hands on (at most 1,024 bytes; a backlog in 1,023-byte pieces; after a peer's
// close what is left, then the empty read, then the close), keeps what a read took beyond that
// for the next turn, and follows each connection from open to closed. The socket layer receives,
// sends and arms notifications, tells this what happened and carries out what it answers.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/allow_list.h"
#include "remote/connection_limits.h"
#include "remote/protocol.h"
#include "remote/send_queue.h"

namespace qyr {

// A read asks for one byte more than it may hand on: a read that fills it tells a backlog from
// exactly 1,024 bytes without asking the system how many wait.
inline constexpr std::size_t kReadSize = kHandlerBufferSize + 1;

// How one receive call ended.
enum class ReadEnd {
  kBytes,       // bytes came
  kEnd,         // 0 bytes: the peer's end of stream, or an empty datagram
  kWouldBlock,  // nothing waits
  kTooLong,     // a datagram longer than the read: lost with it
  kFailed,
};

// What a turn hands to the handler: the first `size` bytes of what was read.
struct Piece {
  std::size_t size = 0;
  bool last = false;   // the empty read after the peer's close: the connection is let go after it
  bool again = false;  // a datagram was taken: the socket reads on until a read finds none
};

// What the socket layer must do after a handler returned or a posted release came in.
enum class LineAction {
  kNone,
  kLetGo,  // shut down sending, stop its notifications, post the release
  kClose,  // close the socket now
};

class ConnectionLine {
 public:
  using Key = std::uint64_t;  // the socket
  // A connection's life: kClosing once the peer has closed; kReleased when nothing more of it
  // is read or sent while the notifications queued for it pass; kClosed when they have passed
  // and only a handler on the stack keeps it.
  enum class Life { kOpen, kClosing, kReleased, kClosed };

  // A connection, or the datagram socket (`peer.tcp` false).
  void Add(Key key, const Source& peer, std::uint64_t now_ms);
  void Clear();

  // A read notification: bytes wait. True if it joined the line.
  bool BytesWait(Key key);
  // The peer's close: what is left is read, then the empty read. True if it joined the line.
  bool PeerClosed(Key key);

  std::size_t Waiting() const { return line_.size(); }
  // Takes the front of the line: the socket whose turn it is, or nothing when it is gone since.
  std::optional<Key> Next();
  // What the last turn read beyond its piece: the start of this turn's read.
  std::string_view Kept(Key key) const;
  // What the turn's read brought (`got`: the kept bytes, then what the call returned): the piece
  // to hand on, if any; the rest is kept for the next turn. A handler then runs until Handled.
  std::optional<Piece> Received(Key key, std::string_view got, ReadEnd end, std::uint64_t now_ms);
  // The handler of `piece` has returned: back in line if bytes are kept, the peer has closed, or
  // a datagram was taken (a failed read does not go again: it may fail for good).
  LineAction Handled(Key key, const Piece& piece);

  // Whether `id` still names the open connection on `key`: a reply or close may act on it.
  bool Serves(Key key, std::uint64_t id) const;
  // Whom the connection serves; nothing once it is gone.
  std::optional<Source> PeerOf(Key key) const;
  // The replies still to send, or nothing when the connection may not send any more.
  SendQueue* Outgoing(Key key);
  void Sent(Key key, std::uint64_t now_ms);
  // Nothing more is read or sent. True if it was not let go before: carry out kLetGo.
  bool Release(Key key);
  // Its queued notifications are past: kClose, unless a handler of its own is on the stack.
  LineAction Drained(Key key);

  // Where room for a new connection from `source` comes from: kEvict names `victim`. A victim
  // found with bytes come in unnoticed gets in line (in use after all), and the choice is made
  // again, kEvictionTries times at most before the new one is refused instead.
  static constexpr int kEvictionTries = 16;
  struct Room {
    Admission admission = Admission::kAdmit;
    Key victim = 0;
  };
  Room RoomFor(Ipv4 source, const ConnectionLimits& limits, std::uint64_t now_ms) const;

  std::size_t Count() const { return connections_.size(); }
  std::optional<Life> LifeOf(Key key) const;
  std::size_t KeptBytes() const;

 private:
  struct Connection {
    Life life = Life::kOpen;
    bool in_line = false;
    int handlers = 0;  // its handlers on the stack: one may run a message loop
    Source peer;
    std::uint64_t active_ms = 0;  // when it was added, last read or last sent on
    std::string kept;
    SendQueue queue;
    bool Serving() const { return life == Life::kOpen || life == Life::kClosing; }
    bool InUse() const {
      return in_line || life == Life::kClosing || handlers > 0 || !queue.Empty() || !kept.empty();
    }
  };
  bool GetInLine(Key key, Connection& connection);
  Connection* Find(Key key);
  const Connection* Find(Key key) const;
  // Counts a TCP connection that is served, or no longer (`by` -1), by its source.
  void CountServed(const Connection& connection, int by);

  std::map<Key, Connection> connections_;
  std::deque<Key> line_;
  // The served TCP connections, all and by source, so that an arrival below both limits costs
  // no look at the others: a flood of short connections must not slow every accept.
  std::size_t served_ = 0;
  std::map<Ipv4, std::size_t> served_from_;
};

// One posted round message: those in line when a round starts get one turn each, and who gets
// back in line waits for the next round. A message serves at most kRoundsPerMessage rounds and,
// at the start of a round, looks at the thread's queue once kReadsBetweenLooks reads have gone
// since the last look: a notification, a timer or input that waits gets the thread.
inline constexpr int kRoundsPerMessage = 64;
inline constexpr int kReadsBetweenLooks = 16;
enum class RoundStep { kTurn, kLook, kDone };
class Rounds {
 public:
  // The next step, with `waiting` sockets in line.
  RoundStep Next(std::size_t waiting);

 private:
  int rounds_ = 0;
  std::size_t turns_left_ = 0;  // of the round under way
  int reads_ = 0;               // since the last look
};

// Windows Sockets codes the rules name.
inline constexpr int kWsaInvalidArgument = 10022;
inline constexpr int kWsaNotASocket = 10038;
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaMessageTooLong = 10040;
inline constexpr int kWsaConnectionAborted = 10053;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaNotConnected = 10057;

// How a receive call that returned `n` ended; `error` is the failure's code when n < 0.
ReadEnd EndOfRead(int n, int error, bool stream);
// Send failures after which the connection is beyond use: it is closed quietly.
bool LostTheConnection(int error);

// Connections taken at one accept notification, at most: a connect flood gets its share of the
// thread, not all of it (those still waiting bring another notification).
inline constexpr int kAcceptsPerNotification = 64;

enum class AcceptStep {
  kAnother,  // accept again
  kStop,     // the share of this notification is taken
  kRearm,    // none waits: register again, so that the next arrival is announced
};
// After `taken` accept calls of one notification, the last of which `none_waits` told.
AcceptStep AfterAccept(int taken, bool none_waits);

}  // namespace qyr
