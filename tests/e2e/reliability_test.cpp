// What a network or a user can throw at the running program: silent and resetting peers,
// random bytes over TCP and UDP, a settings file that cannot be written or holds odd values.
// Every run is bounded in count and time and talks to loopback only.
#include <winsock2.h>

#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "app/layout.h"
#include "e2e_support_win.h"
#include "net_support_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using test::Ask;
using test::ScratchDir;
using test::WaitForListener;

// Splits a reply stream into "OK" and "ERR" tokens; false if anything else is in it.
bool CountReplies(std::string_view stream, long& count) {
  while (!stream.empty()) {
    if (stream.starts_with("OK"))
      stream.remove_prefix(2);
    else if (stream.starts_with("ERR"))
      stream.remove_prefix(3);
    else
      return false;
    ++count;
  }
  return true;
}

// The built program installed under the maker's name; Ready() once it answers on its port.
struct Served {
  explicit Served(const std::string& tag) : dir(tag) {}
  bool Ready() { return program.WaitForWindow() && WaitForListener(); }
  // Still running after what it was put through, and it ends when asked.
  void Survived() {
    EXPECT_TRUE(program.Running());
    EXPECT_TRUE(program.Close());
  }

  const WinsockSession winsock;
  ScratchDir dir;
  test::RunningProgram program{dir};
};

TEST(Reliability, ThousandSilentConnectionsAreHeldAndANewOneIsStillAnswered) {
  Served served("QyrNOR_silent");
  ASSERT_TRUE(served.Ready());

  std::vector<UniqueSocket> silent;
  for (int i = 0; i < 1000; ++i) {
    // From twenty addresses, each within what one may hold.
    const auto from =
        test::kBusyPeersFrom + static_cast<std::uint32_t>(i / test::kBusyPeersAnAddress);
    silent.push_back(test::ConnectLoopback(test::kRemotePort, 5000, from));
    ASSERT_TRUE(silent.back()) << "connection " << i;
  }
  // The program takes the queued connections first, one window message each.
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("QyrNOR_PC_CHECK", test::kRemotePort, 60000), "OK");
  RecordProperty("reply_ms_with_1000_silent",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - asked)
                                      .count()));

  // A connection the program had closed would now be readable (end of stream or reset).
  std::vector<WSAPOLLFD> polls;
  for (const UniqueSocket& s : silent) polls.push_back({s.get(), POLLRDNORM, 0});
  EXPECT_EQ(WSAPoll(polls.data(), static_cast<ULONG>(polls.size()), 500), 0);
  silent.clear();
  EXPECT_EQ(Ask("QyrNOR_PC_TEST"), "OK");
  served.Survived();
}

TEST(Reliability, PeersThatResetDoNotTakeTheListenerDown) {
  Served served("QyrNOR_reset");
  ASSERT_TRUE(served.Ready());

  struct Case {
    const char* name;
    std::string_view sent;
    DWORD pause_ms;  // before the reset, so the reply is on its way or waiting unread
  };
  const std::string burst(3000, 'x');
  const Case cases[] = {
      {"reset before a byte", "", 0},
      {"command, then reset at once", "QyrNOR_PC_CHECK", 0},
      {"command, reply left unread, then reset", "QyrNOR_PC_CHECK", 20},
      {"half a command, then reset", "QyrNOR_P", 5},
      {"3000 bytes, then reset among their replies", burst, 1},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 60; ++i) {
      UniqueSocket s = test::ConnectLoopback();
      ASSERT_TRUE(s) << c.name;
      if (!c.sent.empty()) send(s.get(), c.sent.data(), static_cast<int>(c.sent.size()), 0);
      if (c.pause_ms) Sleep(c.pause_ms);
      test::AbortiveClose(std::move(s));
    }
    EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "OK") << "after: " << c.name;
  }
  served.Survived();
}

// Random bytes, sometimes with a harmless command word in them; never a power word.
std::string RandomMessage(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(0, 3000);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string m(static_cast<std::size_t>(length(rng)), '\0');
  for (char& c : m) c = static_cast<char>(byte(rng));
  if (!m.empty() && rng() % 4 == 0) {
    const std::string_view word = rng() % 2 ? "QyrNOR_PC_CHECK" : "qyrnor_pc_test";
    m.insert(rng() % m.size(), word);
  }
  return m;
}

TEST(Reliability, TenThousandRandomMessagesAreEachAnsweredOkOrErr) {
  Served served("QyrNOR_random");
  ASSERT_TRUE(served.Ready());
  std::mt19937 rng(20261208);
  constexpr int kConnections = 20;
  constexpr int kPerConnection = 500;  // 10,000 over TCP
  constexpr int kDatagrams = 10000;

  long tcp_messages = 0, replies = 0;
  for (int c = 0; c < kConnections; ++c) {
    const UniqueSocket connection = test::ConnectLoopback();
    ASSERT_TRUE(connection);
    const SOCKET s = connection.get();
    std::string stream;
    long non_empty = 0;
    for (int i = 0; i < kPerConnection; ++i, ++tcp_messages) {
      const std::string m = RandomMessage(rng);
      if (m.empty()) continue;
      ASSERT_EQ(send(s, m.data(), static_cast<int>(m.size()), 0), static_cast<int>(m.size()));
      ++non_empty;
      // At least one answer before the next message, so messages do not all run together.
      char buf[256];
      const int n = recv(s, buf, sizeof buf, 0);
      ASSERT_GT(n, 0) << "no answer to message " << i << " of connection " << c;
      stream.append(buf, static_cast<std::size_t>(n));
    }
    shutdown(s, SD_SEND);
    for (;;) {
      char buf[256];
      const int n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;  // end of stream, reset or time-out: the program has let go
      stream.append(buf, static_cast<std::size_t>(n));
    }
    long count = 0;
    ASSERT_TRUE(CountReplies(stream, count)) << "connection " << c << " got: " << stream;
    EXPECT_GE(count, non_empty);
    replies += count;
  }

  const UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  ASSERT_TRUE(udp);
  const sockaddr_in addr = test::Loopback(test::kRemotePort);
  for (int i = 0; i < kDatagrams; ++i) {
    const std::string m = RandomMessage(rng);
    sendto(udp.get(), m.data(), static_cast<int>(m.size()), 0,
           reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (i % 500 == 499) {
      ASSERT_EQ(Ask("QyrNOR_PC_CHECK"), "OK") << "after datagram " << i;
    }
  }
  // Nothing ever comes back over UDP: looked at once the last datagram shows on the status line.
  // The flood may still fill the program's queue, where the system drops what comes: sent again
  // until it is read, as a sender over UDP does.
  const std::string last = "QyrNOR_PC_CHECK last datagram";
  int sends = 0;
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        if (sends++ % 20 == 0) {
          sendto(udp.get(), last.data(), static_cast<int>(last.size()), 0,
                 reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        }
        return served.program.ControlText(ControlId::kStatusLine).ends_with(last);
      },
      std::chrono::seconds(10)));
  u_long pending = 0;
  ioctlsocket(udp.get(), FIONREAD, &pending);
  EXPECT_EQ(pending, 0u);

  EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "OK");
  RecordProperty("tcp_messages", static_cast<int>(tcp_messages));
  RecordProperty("tcp_replies", static_cast<int>(replies));
  served.Survived();
}

void SetText(HWND control, const std::wstring& text) {
  SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

const std::string kSaved = "保存成功,正在测试运行...";

TEST(Reliability, ARefusedSaveShowsTheErrorAndKeepsTheSlotsInMemory) {
  ScratchDir dir("QyrDelay_refused");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(test::PumpUntil([&] { return program.ControlText(ControlId::kDelay1Edit) == "10"; },
                              std::chrono::seconds(10)));
  const std::string ini = dir / "QyrDelay.ini";
  // Wine lets root write read-only files; a folder in the file's place is refused for anyone.
  ASSERT_TRUE(CreateDirectoryA(ini.c_str(), nullptr));
  SetText(program.Control(ControlId::kFile2Edit), L"C:\\Show\\second.txt");
  SetText(program.Control(ControlId::kDelay2Edit), L"3000");

  test::BoxCatcher box(program.pid());
  PostMessageW(program.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(test::PumpUntil([&] { return box.seen(); }, std::chrono::seconds(15)));
  box.Stop();
  EXPECT_EQ(box.text(), "Unable to write to " + ini + ".");
  EXPECT_TRUE(box.has_stop_icon());
  EXPECT_NE(program.ControlText(ControlId::kStatusLine), kSaved);
  EXPECT_EQ(program.ControlText(ControlId::kFile2Edit), "C:\\Show\\second.txt");
  EXPECT_EQ(program.ControlText(ControlId::kDelay2Edit), "3000");

  // Once the folder is out of the way, the same Save writes everything that was typed.
  ASSERT_TRUE(RemoveDirectoryA(ini.c_str()));
  PostMessageW(program.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(test::PumpUntil([&] { return program.ControlText(ControlId::kStatusLine) == kSaved; },
                              std::chrono::seconds(10)));
  const std::string written = test::ReadFileBytes(ini);
  EXPECT_NE(written.find("File1=C:\\Show\\second.txt"), std::string::npos) << written;
  EXPECT_NE(written.find("Delay1=3000"), std::string::npos) << written;
  EXPECT_TRUE(program.Close());
}

TEST(Reliability, OddSettingsFilesAreReadWithoutHarm) {
  const std::string long_path = "C:\\" + std::string(9997, 'p');
  struct Case {
    const char* name;
    std::string file0;
    std::string delay0;
    std::string shown_path;  // what the first row shows
    std::string shown_delay;
  };
  const Case cases[] = {
      {"10,000-character values", long_path, std::string(10000, '1'), long_path.substr(0, 2047),
       "10"},
      // 0x81 0x20 is a lead byte without its trail; 0xFF is no code page 936 byte at all.
      {"bytes outside code page 936",
       "C:\\\x81\x20\xFF\xFE\xFF"
       "end.exe",
       "\xFF"
       "7",
       "", "10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir("QyrDelay_odd");
    test::WriteFileBytes(dir / "QyrDelay.ini",
                         "[AUTORUN]\r\nFile0=" + c.file0 + "\r\nDelay0=" + c.delay0 + "\r\n");
    test::RunningProgram program(dir);
    ASSERT_TRUE(program.WaitForWindow());
    // The row shows the initial texts until the settings are read: wait for the slot's path.
    std::string path;
    const bool shown = test::PumpUntil(
        [&] {
          path = program.ControlText(ControlId::kFile1Edit);
          return c.shown_path.empty() ? path.starts_with("C:\\") && path.ends_with("end.exe")
                                      : path == c.shown_path;
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(shown) << path;
    EXPECT_EQ(program.ControlText(ControlId::kDelay1Edit), c.shown_delay);

    // Saving what was read back works and keeps it readable.
    PostMessageW(program.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
    ASSERT_TRUE(
        test::PumpUntil([&] { return program.ControlText(ControlId::kStatusLine) == kSaved; },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(program.Close());
    test::RunningProgram again(dir);
    ASSERT_TRUE(again.WaitForWindow());
    EXPECT_TRUE(test::PumpUntil([&] { return again.ControlText(ControlId::kFile1Edit) == path; },
                                std::chrono::seconds(10)));
    EXPECT_TRUE(again.Close());
  }
}

}  // namespace
}  // namespace qyr
