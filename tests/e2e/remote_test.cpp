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

using test::Ask;
using test::ScratchDir;

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
    EXPECT_EQ(program.ControlText(ControlId::LabelTCP), c.label);
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
  EXPECT_EQ(program.ControlText(ControlId::LabelTCP), "");
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace qyr
