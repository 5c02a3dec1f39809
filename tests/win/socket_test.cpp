// The remote control on Wine's real sockets over loopback: the main window's listeners on free
// ports, driven by plain Windows Sockets peers from the test.
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "app/main_window_win.h"
#include "base/text.h"
#include "form_fixture_win.h"
#include "net_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using namespace std::chrono_literals;
using test::ScratchDir;

// A control system's connection, blocking, driven between message pumps of the test thread.
class Peer {
 public:
  explicit Peer(int type) : s_(socket(AF_INET, type, 0)) {}

  // `from` (127.x.y.z): the address the program sees; 0 lets the system pick.
  bool Connect(std::uint16_t port, std::uint32_t from = 0) {
    const sockaddr_in source = test::Address(from, 0);
    if (from != 0 &&
        bind(s_.get(), reinterpret_cast<const sockaddr*>(&source), sizeof(source)) != 0) {
      return false;
    }
    const sockaddr_in to = test::Loopback(port);
    return connect(s_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(send(s_.get(), bytes.data(), static_cast<int>(bytes.size()), 0),
              static_cast<int>(bytes.size()));
  }
  void SendTo(std::uint16_t port, const std::string& bytes) {
    const sockaddr_in to = test::Loopback(port);
    ASSERT_EQ(sendto(s_.get(), bytes.data(), static_cast<int>(bytes.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
              static_cast<int>(bytes.size()));
  }
  void ShutdownSend() { shutdown(s_.get(), SD_SEND); }
  void Close() { s_.reset(); }

  // Whatever arrives while messages are pumped: until `want` bytes came, the peer's end of
  // stream, or the time is up.
  std::string Read(std::size_t want, std::chrono::milliseconds limit = 5s) {
    std::string got;
    test::PumpUntil(
        [&] {
          while (got.size() < want && Readable()) {
            char buf[4096];
            const int n = recv(s_.get(), buf, sizeof(buf), 0);
            if (n <= 0) {
              ended_ = true;
              return true;
            }
            got.append(buf, static_cast<std::size_t>(n));
          }
          return got.size() >= want;
        },
        limit);
    return got;
  }
  bool ended() const { return ended_; }
  // Whether the program has closed its end: a read would not wait.
  bool ClosedByProgram() { return Readable() && Read(1, 100ms).empty() && ended_; }

 private:
  bool Readable() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s_.get(), &set);
    timeval zero = {0, 0};
    return select(0, &set, nullptr, nullptr, &zero) == 1;
  }

  UniqueSocket s_;
  bool ended_ = false;
};

// The main window of a program installed under the maker's name, with its listeners opened on
// free loopback ports.
struct Remote {
  // `settings`: the settings file the program finds at start.
  explicit Remote(const std::string& settings = "") : settings_written(Write(dir, settings)) {
    EXPECT_NE(tcp_port, 0);
    EXPECT_NE(udp_port, 0);
  }
  static bool Write(const ScratchDir& dir, const std::string& settings) {
    if (!settings.empty()) test::WriteFileBytes(dir / "QyrDelay.ini", settings);
    return true;
  }
  std::string Status() const { return fixture.Status(); }
  bool WaitForClients(std::size_t n) {
    return test::PumpUntil([&] { return form.Remote().Tcp().connections == n; }, 10s);
  }
  // Sends `bytes` as one burst that the listener finds pending all at once: its thread is held
  // until they are there.
  void SendPending(Peer& peer, const std::string& bytes) {
    ASSERT_TRUE(WaitForClients(1));
    const auto waiting = static_cast<std::int64_t>(bytes.size());
    std::int64_t found = 0;
    form.Remote().OnListenerThread([&] {
      peer.Send(bytes);
      const ULONGLONG end = GetTickCount64() + 5000;
      while ((found = form.Remote().Tcp().bytes_waiting) < waiting && GetTickCount64() < end)
        Sleep(10);
    });
    ASSERT_EQ(found, waiting);
  }

  WinsockSession winsock;
  ScratchDir dir{"QyrNOR_net"};
  bool settings_written;
  test::FormFixture fixture{dir, {.remote = {INADDR_LOOPBACK, 0}}};
  MainWindow& form = fixture.form;
  std::uint16_t tcp_port = form.Remote().Tcp().port;
  std::uint16_t udp_port = form.Remote().Udp().port;
};

TEST(RemoteTcp, AnswersEveryMessageAndTheClose) {
  Remote r;
  Peer peer(SOCK_STREAM);
  ASSERT_TRUE(peer.Connect(r.tcp_port));
  struct Case {
    std::string message;
    const char* reply;
    std::string status;
  } cases[] = {
      {"QyrNOR_PC_CHECK", "OK", "收到指令:查询状态QyrNOR_PC_CHECK"},
      {"QyrNOR_PC_CHECK", "OK", "收到指令:查询状态QyrNOR_PC_CHECK"},  // a poll: shown as it is
      {"qyrnor_pc_test\r\n", "OK", "收到指令:通讯测试qyrnor_pc_test\r\n"},
      {"中文 QyrNOR_PC_TEST 展厅", "OK", "收到指令:通讯测试中文 QyrNOR_PC_TEST 展厅"},
      {"hello", "ERR", "未知指令hello"},
      {std::string("Q\0y\0r\0", 6), "ERR", "未知指令Q"},
      {"QyrNOR_PC_CHECK", "OK", "收到指令:查询状态QyrNOR_PC_CHECK"},  // shown again after others
  };
  for (const Case& c : cases) {
    peer.Send(c.message);
    EXPECT_EQ(peer.Read(8, 500ms), c.reply) << c.message;  // nothing but the reply comes
    EXPECT_EQ(r.Status(), c.status);
  }
  // Closing is answered too, with the empty message, before the program closes its end.
  ASSERT_EQ(r.form.Remote().Tcp().connections, 1u);
  peer.ShutdownSend();
  EXPECT_EQ(peer.Read(8), "ERR");
  EXPECT_TRUE(peer.ended());
  EXPECT_EQ(r.Status(), "未知指令");
  EXPECT_TRUE(r.WaitForClients(0));
}

TEST(RemoteTcp, ACheckIsAnsweredWhileTheWindowServesNothing) {
  Remote r;
  // The window's thread waits in a blocking read of its own, serving no message meanwhile.
  EXPECT_EQ(test::Ask("QyrNOR_PC_CHECK", r.tcp_port), "OK");
  // The status line follows once it serves messages again.
  EXPECT_TRUE(
      test::PumpUntil([&] { return r.Status() == "收到指令:查询状态QyrNOR_PC_CHECK"; }, 5s));
}

TEST(RemoteTcp, APendingBacklogIsTakenIn1023BytePieces) {
  // A word that straddles byte 1023 is only found when the first read takes 1024 bytes.
  struct Case {
    std::size_t total;
    std::vector<std::pair<std::size_t, std::string>> words;
    const char* replies;
    std::size_t last_from;
  } cases[] = {
      {3000,
       {{1009, "QyrNOR_PC_CHECK"}, {2032, "QyrNOR_PC_TEST"}, {2046, "QyrNOR_PC_CHECK"}},
       "ERROKOK",
       2046},
      {1024, {{1009, "QyrNOR_PC_CHECK"}}, "OK", 0},
      {1025, {{1009, "QyrNOR_PC_CHECK"}}, "ERRERR", 1023},
  };
  for (const Case& c : cases) {
    Remote r;
    Peer peer(SOCK_STREAM);
    ASSERT_TRUE(peer.Connect(r.tcp_port));
    std::string bytes(c.total, '.');
    for (const auto& [at, word] : c.words) bytes.replace(at, word.size(), word);
    r.SendPending(peer, bytes);
    const std::string replies = c.replies;
    EXPECT_EQ(peer.Read(replies.size() + 1, 700ms), replies) << c.total;
    const char* prefix =
        Contains(bytes.substr(c.last_from), "QyrNOR_PC_CHECK") ? "收到指令:查询状态" : "未知指令";
    EXPECT_EQ(r.Status(), prefix + bytes.substr(c.last_from)) << c.total;
  }
}

TEST(RemoteTcp, TwoHundredConnectionsEachGetTheirOwnReplies) {
  Remote r;
  constexpr int kPeers = 200;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.push_back(std::make_unique<Peer>(SOCK_STREAM));
    // From a few addresses, each within what one may hold.
    const auto from =
        test::kBusyPeersFrom + static_cast<std::uint32_t>(i / test::kBusyPeersAnAddress);
    ASSERT_TRUE(peers.back()->Connect(r.tcp_port, from)) << i;
    // The backlog holds five: let the listener take each before the next knocks.
    ASSERT_TRUE(r.WaitForClients(static_cast<std::size_t>(i) + 1)) << i;
  }
  for (int i = 0; i < kPeers; ++i) peers[i]->Send(i % 2 == 0 ? "QyrNOR_PC_CHECK" : "nothing");
  for (int i = 0; i < kPeers; ++i) {
    const std::string reply = i % 2 == 0 ? "OK" : "ERR";
    EXPECT_EQ(peers[i]->Read(reply.size(), 5s), reply) << i;  // no greeting before it either
  }
  for (int i = 0; i < kPeers; ++i) EXPECT_EQ(peers[i]->Read(1, 10ms), "") << i;
  peers.clear();
  EXPECT_TRUE(r.WaitForClients(0));
}

// However fast other peers send, a new peer is served within a round of theirs, and a power-off
// from it starts the countdown at once.
TEST(RemoteTcp, BusyPeersCannotKeepANewPeerWaiting) {
  for (const int busy : {1, 63}) {
    SCOPED_TRACE(busy);
    Remote r;
    test::BusyPeers chat(busy, r.tcp_port);
    // Every busy peer has been answered a few times: the chat is on.
    ASSERT_TRUE(test::PumpUntil([&] { return chat.LeastServed() >= 3; }, 20s));
    for (int i = 0; i < 10; ++i) {
      Peer peer(SOCK_STREAM);
      ASSERT_TRUE(peer.Connect(r.tcp_port));
      const auto asked = std::chrono::steady_clock::now();
      peer.Send("QyrNOR_PC_CHECK");
      EXPECT_EQ(peer.Read(2, 5s), "OK") << i;
      EXPECT_LT(std::chrono::steady_clock::now() - asked, 250ms) << i;
    }
    Peer control(SOCK_STREAM);
    ASSERT_TRUE(control.Connect(r.tcp_port));
    control.Send("QyrNOR_PC_OFF");
    EXPECT_EQ(control.Read(2, 250ms), "OK");
    EXPECT_EQ(r.form.Screen().Model().Counts(), (Countdowns{5, 0}));
    EXPECT_EQ(r.form.Screen().Model().Phase(), PowerPhase::kCounting);
  }  // the window goes before its countdown ends
}

// Peers that connect together and chat (64, as many as one source may hold, and 200): a new
// peer right behind them, and those after it, are answered. (Their connections were taken one
// per pass through the message queue, each pass a round of those already in: the first new peer
// waited seconds.)
TEST(RemoteTcp, BusyPeersArrivingTogetherCannotShutANewPeerOut) {
  for (const int busy : {64, 200}) {
    SCOPED_TRACE(busy);
    Remote r;
    test::BusyPeers chat(busy, r.tcp_port);
    for (int i = 0; i < 12; ++i) {
      Peer peer(SOCK_STREAM);
      ASSERT_TRUE(peer.Connect(r.tcp_port));
      peer.Send("QyrNOR_PC_CHECK");
      EXPECT_EQ(peer.Read(2, 5s), "OK") << i;
    }
    EXPECT_TRUE(test::PumpUntil([&] { return chat.LeastServed() >= 3; }, 20s));
  }
}

// Short connections that come and go eight at a time, as a sweeping control system makes them,
// while a peer chats: each is closed as it goes, not once they stop, and the chat goes on. (The
// listener served each one in the accept loop, so a loop took dozens while their notifications
// piled up behind it; the message that closes released connections waited behind them all, and
// under a long sweep the Wine server ran out of files.)
TEST(RemoteTcp, ShortConnectionsAreClosedAsTheyGoWhileAPeerChats) {
  Remote r;
  test::BusyPeers chat(1, r.tcp_port);
  ASSERT_TRUE(test::PumpUntil([&] { return chat.LeastServed() >= 3; }, 20s));
  constexpr long kEach = 400;
  std::atomic<long> ended{0};
  std::vector<std::thread> sweep;
  for (int i = 0; i < 8; ++i) {
    sweep.emplace_back([&] {
      for (long n = 0; n < kEach; ++n) {
        const UniqueSocket s = test::ConnectLoopback(r.tcp_port, 5000);
        shutdown(s.get(), SD_SEND);
        char buf[64];
        while (recv(s.get(), buf, sizeof(buf), 0) > 0) {
        }
        ++ended;
      }
    });
  }
  std::size_t most = 0;
  const bool swept = test::PumpUntil(
      [&] {
        most = std::max(most, r.form.Remote().Tcp().connections);
        return ended == 8 * kEach;
      },
      60s);
  for (std::thread& t : sweep) t.join();
  ASSERT_TRUE(swept) << ended;
  EXPECT_LT(most, 100u);
  const long served = chat.LeastServed();
  EXPECT_TRUE(test::PumpUntil([&] { return chat.LeastServed() > served; }, 5s));
}

// An HTTP request is another protocol, whatever its URL or body holds: nothing is obeyed, shown
// or answered, its connection is closed, and the log gets one line. Commands go on as before.
TEST(RemoteTcp, AnHttpRequestIsRefusedAndItsConnectionClosed) {
  Remote r("[REMOTE]\r\nLog=1\r\n");
  const std::string requests[] = {
      "GET /img.gif?QyrNOR_PC_OFF HTTP/1.1\r\nHost: 127.0.0.1:26908\r\nUser-Agent: "
      "curl/8.5.0\r\nAccept: */*\r\n\r\n",
      "GET /img.gif?QyrNOR_PC_OFF HTTP/1.1\r\nHost: 127.0.0.1:26908\r\nConnection: "
      "keep-alive\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\nAccept: "
      "image/avif,image/webp,*/*\r\nReferer: http://example.com/\r\n\r\n",
      "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 16\r\n\r\nQyrNOR_PC_REBOOT",
  };
  r.form.ShowStatus("-");
  for (const std::string& request : requests) {
    Peer peer(SOCK_STREAM);
    ASSERT_TRUE(peer.Connect(r.tcp_port));
    peer.Send(request);
    EXPECT_EQ(peer.Read(1, 5s), "");
    EXPECT_TRUE(peer.ended()) << request;
  }
  Peer udp(SOCK_DGRAM);
  udp.SendTo(r.udp_port, requests[0]);
  Peer after(SOCK_STREAM);
  ASSERT_TRUE(after.Connect(r.tcp_port));
  after.Send("QyrNOR_PC_CHECK");
  EXPECT_EQ(after.Read(2, 5s), "OK");
  // Nothing shown before it; its line and its log line follow its reply.
  EXPECT_TRUE(
      test::PumpUntil([&] { return r.Status() == "收到指令:查询状态QyrNOR_PC_CHECK"; }, 5s));
  r.form.Remote().OnListenerThread([] {});
  EXPECT_EQ(r.form.Screen().Model().Counts(), (Countdowns{0, 0}));
  r.form.Log().Flush();
  const std::string log = test::ReadFileBytes(r.dir / "QyrDelay.log");
  const std::vector<std::string> events = test::LogEvents(log);
  ASSERT_EQ(events.size(), 6u) << log;
  for (std::size_t i = 1; i <= 4; ++i) {
    EXPECT_TRUE(events[i].starts_with(i < 4 ? "TCP 127.0.0.1:" : "UDP 127.0.0.1:")) << log;
    EXPECT_TRUE(Contains(events[i], " refused: HTTP request \"")) << log;
  }
  EXPECT_TRUE(events[5].ends_with(" QyrNOR_PC_CHECK -> OK")) << log;
}

// A source holds at most 64 connections: 70 silent ones from one address, then a command on a
// new one, which is answered; the idlest have made room, and the log counts them.
TEST(RemoteTcp, SilentConnectionsOfOneSourceMakeRoomForItsNewOne) {
  Remote r("[REMOTE]\r\nLog=1\r\n");
  std::vector<std::unique_ptr<Peer>> silent;
  for (int i = 0; i < 70; ++i) {
    silent.push_back(std::make_unique<Peer>(SOCK_STREAM));
    ASSERT_TRUE(silent.back()->Connect(r.tcp_port)) << i;
  }
  ASSERT_TRUE(test::PumpUntil([&] { return r.form.Remote().Tcp().connections == 64; }, 10s));
  Peer peer(SOCK_STREAM);
  ASSERT_TRUE(peer.Connect(r.tcp_port));
  peer.Send("QyrNOR_PC_CHECK");
  EXPECT_EQ(peer.Read(2, 5s), "OK");
  for (int i = 0; i < 70; ++i) EXPECT_EQ(silent[i]->ClosedByProgram(), i < 7) << i;
  SendMessageW(r.form.hwnd(), WM_QUERYENDSESSION, 0, 0);
  SendMessageW(r.form.hwnd(), WM_ENDSESSION, TRUE, 0);
  const std::string log = test::ReadFileBytes(r.dir / "QyrDelay.log");
  const std::vector<std::string> events = test::LogEvents(log);
  ASSERT_EQ(events.size(), 5u) << log;
  EXPECT_TRUE(events[1].ends_with(" idle connection closed for a new one")) << log;
  EXPECT_TRUE(events[2].ends_with(" QyrNOR_PC_CHECK -> OK")) << log;
  EXPECT_TRUE(events[3].ends_with(" idle connection closed for a new one (6 since the last line)"))
      << log;
}

TEST(RemoteUdp, DatagramsAreInterpretedAndNeverAnswered) {
  Remote r;
  Peer peer(SOCK_DGRAM);
  std::string big(2000, '.');
  big.replace(0, 14, "QyrNOR_PC_TEST");
  struct Case {
    std::string datagram;
    std::string status;
  } cases[] = {
      {"QyrNOR_PC_TEST", "收到指令:通讯测试QyrNOR_PC_TEST"},
      {"", "未知指令"},
      {"qyrnor_pc_check\r\n", "收到指令:查询状态qyrnor_pc_check\r\n"},
      {big, "未知指令"},  // too long for the read: lost, an empty message instead
      {std::string(1023, 'x'), "未知指令" + std::string(1023, 'x')},
  };
  for (const Case& c : cases) {
    r.form.ShowStatus("-");
    peer.SendTo(r.udp_port, c.datagram);
    EXPECT_TRUE(test::PumpUntil([&] { return r.Status() != "-"; }, 5s)) << c.datagram.size();
    EXPECT_EQ(r.Status(), c.status) << c.datagram.size();
  }
  EXPECT_EQ(peer.Read(1, 500ms), "");
}

// A datagram too long for the read fails it; its sender is checked all the same, also when it
// is the first datagram of the run. (Wine reports every loopback sender as 127.0.0.1, so a test
// cannot have an allowed and a refused sender side by side.)
TEST(RemoteUdp, ARefusedSenderIsDroppedWhateverItsDatagram) {
  Remote r("[REMOTE]\r\nAllowFrom=10.0.0.1\r\nLog=1\r\n");
  Peer refused(SOCK_DGRAM);
  std::string oversized(2000, '.');
  oversized.replace(0, 14, "QyrNOR_PC_TEST");
  r.form.ShowStatus("-");
  for (const std::string& datagram : {oversized, std::string("QyrNOR_PC_TEST"), oversized}) {
    refused.SendTo(r.udp_port, datagram);
  }
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        u_long waiting = 1;
        return ioctlsocket(r.form.Remote().Udp().handle, FIONREAD, &waiting) == 0 && waiting == 0;
      },
      5s));
  EXPECT_EQ(r.Status(), "-");
  // The session ends (logoff): the kept lines, the refusals counted since the first one's line
  // and the end line reach the file, once, though the window is not destroyed.
  SendMessageW(r.form.hwnd(), WM_QUERYENDSESSION, 0, 0);
  for (int i = 0; i < 2; ++i) SendMessageW(r.form.hwnd(), WM_ENDSESSION, TRUE, 0);
  const std::string log = test::ReadFileBytes(r.dir / "QyrDelay.log");
  const std::vector<std::string> events = test::LogEvents(log);
  ASSERT_EQ(events.size(), 4u) << log;
  EXPECT_TRUE(events[0].starts_with("QyrDelay started")) << log;
  EXPECT_TRUE(events[1].starts_with("UDP 127.0.0.1:")) << log;
  EXPECT_TRUE(events[1].ends_with(" refused: not in AllowFrom")) << log;
  EXPECT_TRUE(events[2].ends_with(" refused: not in AllowFrom (2 since the last line)")) << log;
  EXPECT_EQ(events[3], "QyrDelay ended");
}

TEST(RemoteListener, AnInvalidAllowFromListKeepsRemoteControlOffAndSaysWhy) {
  // Installed where the listeners would open: the list fails closed before any port is taken.
  ScratchDir dir("QyrNOR_badlist");
  test::WriteFileBytes(dir / "QyrDelay.ini",
                       "[REMOTE]\r\nAllowFrom=192.168.1.10, 192.168.1.0/33\r\n");
  test::FormFixture f(dir);
  EXPECT_EQ(f.Status(), "远程控制已关闭:设置项AllowFrom无效 \"192.168.1.0/33\"");
  EXPECT_EQ(f.form.ControlText(ControlId::kRemotePortLabel), "");
  EXPECT_FALSE(f.form.Remote().Tcp().open);
  EXPECT_FALSE(f.form.Remote().Udp().open);
  EXPECT_FALSE(test::FileExists(dir / "QyrDelay.log"));  // no Log=1, no file

  // A clock entry that cannot be read turns only the clock off, and says which.
  ScratchDir clock_dir("QyrNOR_badclock");
  test::WriteFileBytes(clock_dir / "QyrDelay.ini", "[POWER]\r\nOffAt=21:30\r\nDays=1-5,8\r\n");
  test::FormFixture clock(clock_dir, {.remote = {INADDR_LOOPBACK, 0}});
  EXPECT_EQ(clock.Status(), "定时关机已关闭:设置项Days无效 \"8\"");
  EXPECT_TRUE(clock.form.Remote().Tcp().open);
}

// [REMOTE] and [POWER] are read from the whole file: a key or the section given twice turns
// its feature off, as an invalid entry does, since which one was meant cannot be known.
TEST(RemoteListener, AKeyOrSectionGivenTwiceTurnsItsFeatureOff) {
  const struct {
    const char* ini;
    const char* status;
    bool listening;
  } cases[] = {
      {"[REMOTE]\r\nAllowFrom=\r\nAllowFrom=127.0.0.1\r\n", "远程控制已关闭:设置项AllowFrom重复",
       false},
      {"[REMOTE]\r\nLog=1\r\n[AUTORUN]\r\n[REMOTE]\r\nAllowFrom=127.0.0.1\r\n",
       "远程控制已关闭:[REMOTE]一节重复", false},
      {"[POWER]\r\nOffAt=21:30\r\noffat=22:00\r\n", "定时关机已关闭:设置项offat重复", true},
      {"[POWER]\r\nOffAt=21:30\r\n[POWER]\r\nDays=1-5\r\n", "定时关机已关闭:[POWER]一节重复", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    ScratchDir dir("QyrNOR_twice");
    test::WriteFileBytes(dir / "QyrDelay.ini", c.ini);
    test::FormFixture f(dir, {.remote = {INADDR_LOOPBACK, 0}});
    EXPECT_EQ(f.Status(), c.status);
    EXPECT_EQ(f.form.Remote().Tcp().open, c.listening);
    EXPECT_EQ(f.form.Remote().Udp().open, c.listening);
  }
}

TEST(RemoteListener, APortInUseFailsTheOpenAndHoldsNothing) {
  Remote r;
  Listener listener(Listener::Kind::kTcp, {});
  try {
    listener.Open(INADDR_ANY, r.tcp_port);
    ADD_FAILURE() << "listened on a port in use";
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Code(), WSAEADDRINUSE);
  }
  EXPECT_FALSE(listener.IsOpen());
  EXPECT_EQ(listener.Handle(), INVALID_SOCKET);
  EXPECT_EQ(listener.Port(), 0);
  EXPECT_NO_THROW(listener.Open(INADDR_LOOPBACK, 0));  // opens again once closed
  EXPECT_TRUE(listener.IsOpen());
  EXPECT_NE(listener.Port(), 0);
}

// A handler may run a message loop (an error box does): the peer's close is handled there, yet
// the connection stays until the handler has returned.
TEST(RemoteListener, AConnectionClosedInsideItsOwnHandlerIsReleasedAfterIt) {
  WinsockSession winsock;
  Peer peer(SOCK_STREAM);
  int calls = 0;
  std::size_t inside = 0;
  Listener listener(Listener::Kind::kTcp,
                    {.on_message = [&](std::string_view, const Source&, const Listener::Reply&) {
                      if (++calls > 1) return;  // the close, read inside the loop below
                      peer.Close();
                      EXPECT_TRUE(test::PumpUntil([&] { return calls > 1; }, 5s));
                      inside = listener.ConnectionCount();
                    }});
  listener.Open(INADDR_LOOPBACK, 0);
  ASSERT_TRUE(peer.Connect(listener.Port()));
  peer.Send("QyrNOR_PC_CHECK");
  EXPECT_TRUE(test::PumpUntil([&] { return calls > 1 && listener.ConnectionCount() == 0; }, 10s));
  EXPECT_EQ(inside, 1u);
}

// A listener with small limits that answers "OK" to every read and records whom it let go.
struct SmallListener {
  explicit SmallListener(ConnectionLimits limits)
      : listener(
            Listener::Kind::kTcp,
            {.on_message =
                 [this](std::string_view bytes, const Source& from, const Listener::Reply& reply) {
                   if (bytes.empty()) return;
                   if (while_handled) while_handled(from);
                   reply("OK");
                 },
             .evicted = [this](const Source& peer) { evicted.push_back(peer.address); }},
            limits) {
    listener.Open(INADDR_LOOPBACK, 0);
  }
  std::unique_ptr<Peer> Connect(std::uint32_t from) {
    auto peer = std::make_unique<Peer>(SOCK_STREAM);
    EXPECT_TRUE(peer->Connect(listener.Port(), from));
    return peer;
  }

  WinsockSession winsock;
  Listener listener;
  std::function<void(const Source&)> while_handled;
  std::vector<Ipv4> evicted;
};

// At the ceiling a new source is served: the idlest connection of the source holding the most
// makes room, one at a time.
TEST(RemoteListener, AtTheCeilingTheBiggestSourceMakesRoomForANewOne) {
  SmallListener l({.per_source = 64, .total = 8});
  std::vector<std::unique_ptr<Peer>> held;
  for (int i = 0; i < 8; ++i) {
    held.push_back(l.Connect(i < 5 ? 0x7F000002 : 0x7F000003));
    ASSERT_TRUE(test::PumpUntil([&] { return l.listener.ConnectionCount() == held.size(); }, 5s));
  }
  for (const std::uint32_t newcomer : {0x7F000004u, 0x7F000005u, 0x7F000003u}) {
    auto peer = l.Connect(newcomer);
    peer->Send("QyrNOR_PC_CHECK");
    EXPECT_EQ(peer->Read(2, 5s), "OK") << newcomer;
    held.push_back(std::move(peer));
  }
  // 127.0.0.2 held five, then four, then three as 127.0.0.3 did, whose connections came later.
  EXPECT_EQ(l.evicted, (std::vector<Ipv4>{0x7F000002, 0x7F000002, 0x7F000002}));
  for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(held[i]->ClosedByProgram(), i < 3) << i;
}

// A connection whose handler is running is never closed to make room, though it is the idlest:
// another goes, or with no other the new one is refused.
TEST(RemoteListener, AConnectionInUseIsNeverClosedForANewOne) {
  struct Case {
    std::size_t per_source;
    int newcomers;
    std::vector<bool> closed;  // of the newcomers
  } cases[] = {
      {2, 2, {true, false}},
      {1, 1, {true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.per_source);
    SmallListener l({.per_source = c.per_source, .total = 8});
    std::vector<std::unique_ptr<Peer>> newcomers;
    l.while_handled = [&](const Source&) {
      if (!newcomers.empty()) return;
      for (int i = 0; i < c.newcomers; ++i) {
        // The one before is taken before the next knocks, so the idlest is known.
        const std::size_t before = newcomers.size() + 1;
        ASSERT_TRUE(test::PumpUntil([&] { return l.listener.ConnectionCount() == before; }, 5s));
        newcomers.push_back(l.Connect(0x7F000001));
      }
      EXPECT_TRUE(test::PumpUntil([&] { return newcomers.front()->ClosedByProgram(); }, 5s));
    };
    auto busy = l.Connect(0x7F000001);
    busy->Send("QyrNOR_PC_CHECK");
    EXPECT_EQ(busy->Read(2, 10s), "OK");
    busy->Send("QyrNOR_PC_CHECK");
    EXPECT_EQ(busy->Read(2, 5s), "OK");  // still open
    for (std::size_t i = 0; i < newcomers.size(); ++i) {
      EXPECT_EQ(newcomers[i]->ClosedByProgram(), c.closed[i]) << i;
    }
    EXPECT_EQ(l.evicted.size(), c.closed.size() == 2 ? 1u : 0u);
  }
}

TEST(RemoteCommands, PowerRowsArmTheirCountdownBeforeTheScreen) {
  Remote r;
  EXPECT_EQ(r.form.Remote().HandleCommand("x QyrNOR_PC_REBOOT QyrNOR_PC_OFF\r\n"), "OK");
  EXPECT_EQ(r.form.Screen().Model().Counts(), (Countdowns{5, 0}));
  EXPECT_EQ(r.Status(), "收到指令:关闭电脑x QyrNOR_PC_REBOOT QyrNOR_PC_OFF\r\n");
  EXPECT_EQ(r.form.Remote().HandleCommand("QYRNOR_PC_REBOOT"), "OK");
  EXPECT_EQ(r.form.Screen().Model().Counts(), (Countdowns{0, 5}));  // the last one happens
  EXPECT_EQ(r.form.Remote().HandleCommand(""), "ERR");
  EXPECT_EQ(r.Status(), "未知指令");
}

}  // namespace
}  // namespace qyr
