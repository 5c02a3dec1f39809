// The built program's listeners on port 26908, as the control system finds them.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/layout.h"
#include "e2e_support_win.h"
#include "test_support_win.h"

namespace qyr {
namespace {

using namespace std::chrono_literals;
using test::ScratchDir;

constexpr u_short kPort = 26908;

struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~Winsock() { WSACleanup(); }
};

sockaddr_in Any(u_short port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  return a;
}

// A socket of ours bound to 26908 before the program starts; INVALID_SOCKET if it is taken.
SOCKET Occupy(int type) {
  SOCKET s = socket(AF_INET, type, 0);
  const sockaddr_in a = Any(kPort);
  if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0 ||
      (type == SOCK_STREAM && listen(s, 5) != 0)) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// One command on a new connection; the reply, or what went wrong.
std::string Ask(const std::string& command) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to = Any(kPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0) {
    closesocket(s);
    return "<refused>";
  }
  const DWORD wait_ms = 5000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait_ms), sizeof(wait_ms));
  send(s, command.data(), static_cast<int>(command.size()), 0);
  char buf[16];
  const int n = recv(s, buf, sizeof(buf), 0);
  closesocket(s);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "<no reply>";
}

TEST(RemoteControl, TcpPortTakenMeansNoListenerNoLabelAndNoMessage) {
  Winsock winsock;
  const SOCKET tcp = Occupy(SOCK_STREAM);
  ASSERT_NE(tcp, INVALID_SOCKET);
  ScratchDir dir("QyrNOR_tcp_taken");
  {
    test::RunningProgram program(dir);
    test::BoxCatcher box(program.pid());  // the failure must not be shown
    ASSERT_TRUE(program.WaitForWindow());
    test::PumpMessages(1500ms);
    EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "");
    // The UDP listener was not even tried.
    const SOCKET udp = Occupy(SOCK_DGRAM);
    EXPECT_NE(udp, INVALID_SOCKET);
    closesocket(udp);
    box.Stop();
    EXPECT_FALSE(box.seen()) << box.text();
    EXPECT_TRUE(program.Close());
  }
  closesocket(tcp);
}

TEST(RemoteControl, UdpPortTakenLeavesTcpWorking) {
  Winsock winsock;
  const SOCKET udp = Occupy(SOCK_DGRAM);
  ASSERT_NE(udp, INVALID_SOCKET);
  ScratchDir dir("QyrNOR_udp_taken");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  EXPECT_TRUE(test::PumpUntil([] { return Ask("QyrNOR_PC_CHECK") == "OK"; }, 20s));
  EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "TCP/UDP受控中端口:26908");
  EXPECT_TRUE(program.Close());
  closesocket(udp);
}

TEST(RemoteControl, APathWithoutTheProductNameOpensNoPort) {
  Winsock winsock;
  ASSERT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>") << "port taken by another program";
  ScratchDir dir("QyrDelay_plain");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  test::PumpMessages(1500ms);
  EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>");
  EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "");
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace qyr
