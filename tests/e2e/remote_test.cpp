// The built program's listeners on port 26908, as the control system finds them.
#include <winsock2.h>

#include <functional>
#include <string>
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

long Count(const std::vector<std::string>& events, std::string_view protocol,
           std::string_view what) {
  long n = 0;
  for (const std::string& e : events)
    n += e.starts_with(protocol) && e.find(what) != std::string::npos ? 1 : 0;
  return n;
}

// A port another program holds is never reported: without TCP there is no listener at all (UDP
// is not even tried) and no label; without UDP, TCP serves as usual.
TEST(RemoteControl, APortTakenByAnotherProgramIsNeverReported) {
  const WinsockSession winsock;
  struct Case {
    int taken;
    const char* tag;
    const char* label;
  };
  const Case cases[] = {
      {SOCK_STREAM, "QyrNOR_tcp_taken", ""},
      {SOCK_DGRAM, "QyrNOR_udp_taken", "TCP/UDP受控中端口:26908"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    const UniqueSocket held = test::Occupy(c.taken);
    ASSERT_TRUE(held);
    ScratchDir dir(c.tag);
    test::RunningProgram program(dir);
    test::BoxCatcher box(program.pid());
    ASSERT_TRUE(program.WaitForWindow());
    ASSERT_TRUE(program.WaitForTicks());
    EXPECT_EQ(program.ControlText(ControlId::kRemotePortLabel), c.label);
    if (c.taken == SOCK_STREAM) {
      EXPECT_TRUE(test::Occupy(SOCK_DGRAM));
    } else {
      EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "OK");
    }
    box.Stop();
    EXPECT_FALSE(box.seen()) << box.text();
    EXPECT_TRUE(program.Close());
  }
}

TEST(RemoteControl, APathWithoutTheProductNameOpensNoPort) {
  const WinsockSession winsock;
  ASSERT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>") << "port taken by another program";
  ScratchDir dir("QyrDelay_plain");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(program.WaitForTicks());
  EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>");
  EXPECT_EQ(program.ControlText(ControlId::kRemotePortLabel), "");
  EXPECT_TRUE(program.Close());
}

void SendDatagram(std::string_view message) {
  const UniqueSocket udp(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  const sockaddr_in to = test::Loopback(test::kRemotePort);
  sendto(udp.get(), message.data(), static_cast<int>(message.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

// With a hall key, a power command is obeyed only signed over the nonce of its own connection;
// everything else is refused with "ERR" and logged, and the plain commands stay plain.
TEST(RemoteControl, WithAHallKeyOnlyASignedPowerCommandOverTcpIsObeyed) {
  const WinsockSession winsock;
  const test::HallKey hall, stranger;
  ScratchDir dir("QyrNOR_signed");
  test::WriteFileBytes(
      dir / "QyrDelay.ini",
      "[AUTORUN]\r\nFile0=\r\n[REMOTE]\r\nLog=1\r\nSignedBy=" + hall.PublicHex() + "\r\n");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(test::WaitForListener());
  const auto nonce_on = [](const UniqueSocket& s) {
    return ParseNonceReply(test::Exchange(s, "QyrNOR_PC_NONCE\r\n")).value_or("");
  };
  const auto signed_by = [](const test::HallKey& key, std::string_view nonce) {
    return SignedCommandMessage(Command::kPowerOff,
                                key.Sign(SignedText(Command::kPowerOff, nonce)));
  };
  struct Case {
    const char* what;
    std::function<std::string()> reply;
    const char* expected;
  };
  std::string replayed;
  const Case refused[] = {
      {"plain", [] { return Ask("QyrNOR_PC_OFF"); }, "ERR"},
      {"plain restart", [] { return Ask("qyrnor_pc_reboot\r\n"); }, "ERR"},
      {"signed, no nonce asked",
       [&] { return Ask(signed_by(hall, "9f86d081884c7d659a2feaa0c55ad015")); }, "ERR"},
      {"another key",
       [&] {
         const UniqueSocket s = test::ConnectLoopback();
         return test::Exchange(s, signed_by(stranger, nonce_on(s)));
       },
       "ERR"},
      {"the nonce of another connection",
       [&] {
         const UniqueSocket a = test::ConnectLoopback(), b = test::ConnectLoopback();
         const std::string nonce = nonce_on(a);
         nonce_on(b);
         return test::Exchange(b, signed_by(hall, nonce));
       },
       "ERR"},
      {"a message between the nonce and the command",
       [&] {
         const UniqueSocket s = test::ConnectLoopback();
         const std::string nonce = nonce_on(s);
         test::Exchange(s, "QyrNOR_PC_CHECK");
         return test::Exchange(s, signed_by(hall, nonce));
       },
       "ERR"},
      {"the plain commands stay plain",
       [] { return Ask("QyrNOR_PC_CHECK") + Ask("QyrNOR_PC_TEST"); }, "OKOK"},
  };
  for (const Case& c : refused) EXPECT_EQ(c.reply(), c.expected) << c.what;
  SendDatagram("QyrNOR_PC_OFF");
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        return Count(test::LogEvents(test::ReadFileBytes(dir / "QyrDelay.log")), "UDP",
                     "QyrNOR_PC_OFF refused") == 1;
      },
      std::chrono::seconds(10)));
  EXPECT_TRUE(program.ControlText(ControlId::kStatusLine).starts_with("拒绝指令:未签名或签名无效"));
  HWND panel = program.Control(ControlId::kPowerScreen);
  EXPECT_FALSE(IsWindowVisible(panel)) << "a refused command raised the screen";

  // Signed over its own nonce: obeyed; the same signature again is not.
  const UniqueSocket s = test::ConnectLoopback();
  const std::string nonce = nonce_on(s);
  ASSERT_EQ(nonce.size(), 2 * kNonceBytes);
  const std::string signed_off = signed_by(hall, nonce);
  EXPECT_EQ(test::Exchange(s, signed_off), "OK");
  // The screen came; cancelled at the PC, as a person there would.
  EXPECT_TRUE(program.CancelAtThePc());
  EXPECT_EQ(test::Exchange(s, signed_off), "ERR") << "replayed on its connection";
  const UniqueSocket other = test::ConnectLoopback();
  nonce_on(other);
  EXPECT_EQ(test::Exchange(other, signed_off), "ERR") << "replayed over a new nonce";
  EXPECT_FALSE(IsWindowVisible(panel));
  // The log reaches its file a moment later.
  const auto logged = [&] {
    const std::vector<std::string> events =
        test::LogEvents(test::ReadFileBytes(dir / "QyrDelay.log"));
    return std::to_string(Count(events, "TCP", "QyrNOR_PC_OFF -> OK")) + " obeyed, " +
           std::to_string(Count(events, "TCP", "QyrNOR_PC_OFF refused")) + " refused, " +
           std::to_string(Count(events, "TCP", "QyrNOR_PC_REBOOT refused: not signed")) +
           " restart refused";
  };
  const std::string expected = "1 obeyed, 7 refused, 1 restart refused";
  EXPECT_TRUE(test::PumpUntil([&] { return logged() == expected; }, std::chrono::seconds(10)))
      << logged();
  EXPECT_TRUE(program.Close());
}

// A bad key keeps remote control off, as a bad AllowFrom does; Udp=0 closes only UDP.
TEST(RemoteControl, ABadHallKeyKeepsThePortShutAndUdpZeroClosesUdp) {
  const WinsockSession winsock;
  const test::HallKey hall;
  std::string off_curve = hall.PublicHex();
  off_curve[10] = off_curve[10] == '0' ? '1' : '0';
  struct Case {
    std::string remote;
    const char* check;
    bool udp_taken;
  } cases[] = {
      {"SignedBy=04abc", "<refused>", false},
      {"SignedBy=" + off_curve, "<refused>", false},
      {"Udp=0", "OK", false},
      {"Udp=1", "OK", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.remote);
    ScratchDir dir("QyrNOR_remote_keys");
    test::WriteFileBytes(dir / "QyrDelay.ini",
                         "[AUTORUN]\r\nFile0=\r\n[REMOTE]\r\n" + c.remote + "\r\n");
    test::RunningProgram program(dir);
    ASSERT_TRUE(program.WaitForWindow());
    ASSERT_TRUE(program.WaitForTicks());
    if (std::string(c.check) == "OK") {
      ASSERT_TRUE(test::WaitForListener());
    }
    EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), c.check);
    EXPECT_EQ(!test::Occupy(SOCK_DGRAM), c.udp_taken);
    if (std::string(c.check) != "OK") {
      EXPECT_EQ(
          program.ControlText(ControlId::kStatusLine).rfind("远程控制已关闭:设置项SignedBy无效", 0),
          0u)
          << program.ControlText(ControlId::kStatusLine);
    }
    EXPECT_TRUE(program.Close());
  }
}

}  // namespace
}  // namespace qyr
