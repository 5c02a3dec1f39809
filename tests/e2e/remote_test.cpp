// The built program's listeners on port 26908, as the control system finds them.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/layout.h"
#include "e2e_support_win.h"
#include "net_support_win.h"
#include "test_support_win.h"

namespace qyr {
namespace {

using test::ScratchDir;

using test::Ask;

TEST(RemoteControl, TcpPortTakenMeansNoListenerNoLabelAndNoMessage) {
  const WinsockSession winsock;
  const UniqueSocket tcp = test::Occupy(SOCK_STREAM);
  ASSERT_TRUE(tcp);
  ScratchDir dir("QyrNOR_tcp_taken");
  {
    test::RunningProgram program(dir);
    test::BoxCatcher box(program.pid());  // the failure must not be shown
    ASSERT_TRUE(program.WaitForWindow());
    ASSERT_TRUE(program.WaitForTicks());
    EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "");
    // The UDP listener was not even tried.
    EXPECT_TRUE(test::Occupy(SOCK_DGRAM));
    box.Stop();
    EXPECT_FALSE(box.seen()) << box.text();
    EXPECT_TRUE(program.Close());
  }
}

TEST(RemoteControl, UdpPortTakenLeavesTcpWorking) {
  const WinsockSession winsock;
  const UniqueSocket udp = test::Occupy(SOCK_DGRAM);
  ASSERT_TRUE(udp);
  ScratchDir dir("QyrNOR_udp_taken");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  EXPECT_TRUE(test::WaitForListener());
  EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "TCP/UDP受控中端口:26908");
  EXPECT_TRUE(program.Close());
}

TEST(RemoteControl, APathWithoutTheProductNameOpensNoPort) {
  const WinsockSession winsock;
  ASSERT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>") << "port taken by another program";
  ScratchDir dir("QyrDelay_plain");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(program.WaitForTicks());
  EXPECT_EQ(Ask("QyrNOR_PC_CHECK"), "<refused>");
  EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "");
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace qyr
