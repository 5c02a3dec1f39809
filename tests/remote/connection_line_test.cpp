#include "remote/connection_line.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

using Key = ConnectionLine::Key;
using Life = ConnectionLine::Life;

// A peer's side of a socket as a read finds it: the bytes waiting, and whether it has closed.
struct Wire {
  std::string waiting;
  bool closed = false;
};

// The listener's sockets and their line: each turn reads once, as the socket layer does.
struct Line {
  ConnectionLine line;
  std::map<Key, Wire> wires;
  std::vector<std::pair<Key, std::string>> handed;  // what each handler was given
  std::vector<LineAction> actions;                  // what the line asked for after a handler

  void Connect(Key key, std::uint64_t id = 0) {
    line.Add(key, Source{.address = 0x7F000001, .connection = id == 0 ? key : id}, 0);
    wires[key];
  }
  void Arrive(Key key, const std::string& bytes) {
    wires[key].waiting += bytes;
    line.BytesWait(key);
  }
  void Close(Key key) {
    wires[key].closed = true;
    line.PeerClosed(key);
  }
  // One turn; false when the line was empty.
  bool Turn() {
    if (line.Waiting() == 0) return false;
    const std::optional<Key> key = line.Next();
    if (!key) return true;
    Wire& wire = wires[*key];
    std::string got(line.Kept(*key));
    const std::size_t n = std::min(kReadSize - got.size(), wire.waiting.size());
    got += wire.waiting.substr(0, n);
    wire.waiting.erase(0, n);
    const ReadEnd end = n > 0         ? ReadEnd::kBytes
                        : wire.closed ? ReadEnd::kEnd
                                      : ReadEnd::kWouldBlock;
    const std::optional<Piece> piece = line.Received(*key, got, end, 0);
    if (!piece) return true;
    handed.emplace_back(*key, got.substr(0, piece->size));
    actions.push_back(line.Handled(*key, *piece));
    return true;
  }
  void Serve() {
    while (Turn()) {
    }
  }
  std::vector<std::size_t> Sizes() const {
    std::vector<std::size_t> sizes;
    for (const auto& [key, bytes] : handed) sizes.push_back(bytes.size());
    return sizes;
  }
};

std::string Numbered(std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes;
}

TEST(ConnectionLine, ABacklogGoesIn1023BytePiecesAndTheCloseAfterWhatIsLeft) {
  struct Case {
    std::size_t pending;
    bool closed;
    std::vector<std::size_t> pieces;  // 0 last: the empty read after the close
  } cases[] = {
      {15, false, {15}},
      {1024, false, {1024}},
      {1025, false, {1023, 2}},
      {2047, false, {1023, 1024}},
      {3000, false, {1023, 1023, 954}},
      {0, true, {0}},
      {15, true, {15, 0}},
      {1025, true, {1023, 2, 0}},
      {3000, true, {1023, 1023, 954, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pending << (c.closed ? " closed" : ""));
    Line l;
    l.Connect(7);
    l.Serve();  // a connection is looked at once when taken: nothing yet
    EXPECT_TRUE(l.handed.empty());
    const std::string bytes = Numbered(c.pending);
    if (c.pending > 0) l.Arrive(7, bytes);
    if (c.closed) l.Close(7);
    l.Serve();
    EXPECT_EQ(l.Sizes(), c.pieces);
    std::string joined;
    for (const auto& [key, piece] : l.handed) joined += piece;
    EXPECT_EQ(joined, bytes);  // every byte once, in order
    // Open: the rest waits for the next read notification. Closed: let go after the empty read.
    EXPECT_EQ(l.line.LifeOf(7), c.closed ? Life::kReleased : Life::kOpen);
    EXPECT_EQ(l.actions.back(), c.closed ? LineAction::kLetGo : LineAction::kNone);
    EXPECT_EQ(l.line.KeptBytes(), 0u);
    if (!c.closed) continue;
    EXPECT_FALSE(l.line.Serves(7, 7));  // a reply to the empty read went before the let-go
    EXPECT_EQ(l.line.Drained(7), LineAction::kClose);
    EXPECT_EQ(l.line.Count(), 0u);
  }
}

// Two connections with backlogs take turns, one piece each; the kept bytes are counted as
// waiting until their turn.
TEST(ConnectionLine, BacklogsTakeTurnsOnePieceEach) {
  Line l;
  l.Connect(1);
  l.Connect(2);
  l.Arrive(1, Numbered(3000));
  l.Arrive(2, Numbered(1100));
  ASSERT_TRUE(l.Turn());  // 1's first look at its accept, now with bytes
  ASSERT_TRUE(l.Turn());
  EXPECT_EQ(l.line.KeptBytes(), 4u);  // two beyond each first piece
  l.Serve();
  std::vector<Key> order;
  for (const auto& [key, piece] : l.handed) order.push_back(key);
  EXPECT_EQ(order, (std::vector<Key>{1, 2, 1, 2, 1}));
  EXPECT_EQ(l.Sizes(), (std::vector<std::size_t>{1023, 1023, 1023, 77, 954}));
}

// A handler may run a message loop (an error box does): its connection is let go meanwhile, by a
// reply's Close or the peer, and the posted release arrives before the handler returns.
TEST(ConnectionLine, AConnectionReleasedWhileItsHandlerRunsIsClosedAfterIt) {
  for (const bool nested : {false, true}) {
    SCOPED_TRACE(nested);
    ConnectionLine line;
    line.Add(5, Source{.connection = 9}, 0);
    ASSERT_EQ(line.Next(), 5u);
    const std::optional<Piece> piece = line.Received(5, "QyrNOR_PC_CHECK", ReadEnd::kBytes, 0);
    ASSERT_TRUE(piece);
    EXPECT_EQ(piece->size, 15u);
    std::optional<Piece> inner;
    if (nested) {
      // Its next read is handled inside the first handler.
      ASSERT_TRUE(line.BytesWait(5));
      ASSERT_EQ(line.Next(), 5u);
      inner = line.Received(5, "x", ReadEnd::kBytes, 0);
      ASSERT_TRUE(inner);
    }
    EXPECT_TRUE(line.Serves(5, 9));
    EXPECT_FALSE(line.Serves(5, 8));  // another connection's id on the same handle
    EXPECT_TRUE(line.Release(5));
    EXPECT_FALSE(line.Release(5));  // once
    EXPECT_FALSE(line.Serves(5, 9));
    EXPECT_EQ(line.Outgoing(5), nullptr);
    EXPECT_FALSE(line.BytesWait(5));
    EXPECT_FALSE(line.PeerClosed(5));
    EXPECT_EQ(line.Drained(5), LineAction::kNone);  // a handler is still on the stack
    EXPECT_EQ(line.LifeOf(5), Life::kClosed);
    if (nested) {
      EXPECT_EQ(line.Handled(5, *inner), LineAction::kNone);
    }
    EXPECT_EQ(line.Count(), 1u);
    EXPECT_EQ(line.Handled(5, *piece), LineAction::kClose);
    EXPECT_EQ(line.Count(), 0u);
  }
}

// Let go while in line: its turn finds nothing, and the others keep theirs.
TEST(ConnectionLine, AConnectionLetGoInLineLosesItsTurnOnly) {
  Line l;
  for (Key key = 1; key <= 3; ++key) {
    l.Connect(key);
    l.Arrive(key, "QyrNOR_PC_CHECK");
  }
  EXPECT_TRUE(l.line.Release(2));
  l.Serve();
  EXPECT_EQ(l.handed, (std::vector<std::pair<Key, std::string>>{{1, "QyrNOR_PC_CHECK"},
                                                                {3, "QyrNOR_PC_CHECK"}}));
}

// A flood of connections arriving together: one notification takes a bounded share, the rest
// come with the next ones, and the last, finding none, arms the event again.
TEST(ConnectionLine, AFloodOfAcceptsIsTakenInBoundedSharesEachInLineOnce) {
  struct Case {
    int waiting;
    std::vector<int> taken;  // a notification each
  } cases[] = {
      {0, {0}}, {1, {1}}, {63, {63}}, {64, {64, 0}}, {200, {64, 64, 64, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.waiting);
    int waiting = c.waiting;
    std::vector<int> taken;
    bool rearmed = false;
    while (!rearmed) {
      int share = 0;
      for (int calls = 1;; ++calls) {
        const AcceptStep step = AfterAccept(calls, waiting == 0);
        if (step == AcceptStep::kRearm) {
          rearmed = true;
          break;
        }
        --waiting;
        ++share;
        if (step == AcceptStep::kStop) break;
      }
      taken.push_back(share);
    }
    EXPECT_EQ(taken, c.taken);
  }
  // Each connection of the flood has one look, in accept order, before any has a second.
  Line l;
  for (Key key = 1; key <= 64; ++key) {
    l.Connect(key);
    l.wires[key].waiting = "QyrNOR_PC_CHECK";
  }
  for (Key key = 1; key <= 64; ++key) l.line.BytesWait(key);  // their read notifications
  EXPECT_EQ(l.line.Waiting(), 64u);
  l.Serve();
  ASSERT_EQ(l.handed.size(), 64u);
  for (Key key = 1; key <= 64; ++key) EXPECT_EQ(l.handed[key - 1].first, key);
}

// One round message: a round is the line as it stood when the round began; the queue is looked
// at between rounds once 16 reads have gone, and a message ends after 64 rounds.
TEST(ConnectionLine, ARoundMessageLooksAtTheQueueBetweenRoundsAndEnds) {
  struct Case {
    std::size_t in_line;  // all of them back in line after their turn
    int turns_before_first_look;
    int turns;  // in the message, when no other work waits
  } cases[] = {
      {1, 16, 64},
      {3, 18, 192},
      {64, 64, 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in_line);
    Rounds rounds;
    int turns = 0;
    int first_look = -1;
    for (RoundStep step; (step = rounds.Next(c.in_line)) != RoundStep::kDone;) {
      if (step == RoundStep::kLook && first_look < 0) first_look = turns;
      if (step == RoundStep::kTurn) ++turns;
    }
    EXPECT_EQ(first_look, c.turns_before_first_look);
    EXPECT_EQ(turns, c.turns);
  }
  Rounds rounds;
  EXPECT_EQ(rounds.Next(0), RoundStep::kDone);  // an empty line ends it
}

TEST(ConnectionLine, ADatagramIsHandedWholeOrLost) {
  struct Case {
    std::size_t size;
    ReadEnd end;
    std::optional<std::size_t> piece;
  } cases[] = {
      {14, ReadEnd::kBytes, 14},
      {1024, ReadEnd::kBytes, 1024},
      {1025, ReadEnd::kBytes, 0},
      {0, ReadEnd::kEnd, 0},
      {1025, ReadEnd::kTooLong, 0},
      {0, ReadEnd::kFailed, 0},
      {0, ReadEnd::kWouldBlock, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ConnectionLine line;
    line.Add(3, Source{.tcp = false}, 0);
    EXPECT_EQ(line.Waiting(), 0u);  // only a read notification puts it in line
    ASSERT_TRUE(line.BytesWait(3));
    ASSERT_EQ(line.Next(), 3u);
    const std::optional<Piece> piece = line.Received(3, Numbered(c.size), c.end, 0);
    EXPECT_EQ(piece ? std::optional(piece->size) : std::nullopt, c.piece);
    if (piece) {
      EXPECT_EQ(line.Handled(3, *piece), LineAction::kNone);
    }
    EXPECT_EQ(line.KeptBytes(), 0u);
    // After a datagram it reads again, until a read finds none; a failed read, which may fail
    // again and again, waits for the next notification.
    const bool again = piece && c.end != ReadEnd::kFailed;
    EXPECT_EQ(line.Waiting(), again ? 1u : 0u);
    if (!again) continue;
    ASSERT_EQ(line.Next(), 3u);
    EXPECT_FALSE(line.Received(3, "", ReadEnd::kWouldBlock, 0));
    EXPECT_EQ(line.Waiting(), 0u);
  }
}

}  // namespace
}  // namespace qyr
