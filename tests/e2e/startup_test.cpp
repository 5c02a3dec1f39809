// The built QyrDelay.exe started as a technician or the system would start it.
#include <string>

#include <windows.h>

#include "app/layout.h"
#include "base/wide_win.h"
#include "e2e_support_win.h"
#include "net_support_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using test::ScratchDir;

TEST(Startup, ASecondInstanceEndsSilentlyAndTheFirstRuns) {
  ScratchDir dir("QyrDelay_once");
  test::RunningProgram first(dir);
  DWORD early_exit = STILL_ACTIVE;
  ASSERT_TRUE(first.WaitForWindow() || (first.WaitForExit(0, &early_exit), false))
      << "the first instance ended at once with code " << early_exit;

  HANDLE second = test::StartProcess(first.exe());
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(WaitForSingleObject(second, 15000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(second, &code);
  CloseHandle(second);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::CountMainWindows(first.exe()), 1);
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(first.Close());
}

TEST(Startup, TheWindowNeverShowsAtStart) {
  ScratchDir dir("QyrDelay_hidden");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  bool ever_visible = false;
  test::PumpUntil(
      [&] {
        ever_visible = ever_visible || IsWindowVisible(program.window());
        return false;
      },
      std::chrono::seconds(2));
  EXPECT_FALSE(ever_visible);
  EXPECT_TRUE(program.Close());
}

TEST(Startup, ReadsItsSettingsAndStartsASlotOnTime) {
  ScratchDir dir("QyrDelay_slot");
  const std::string probe = dir / "probe.exe";
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "launch_probe.exe", probe));
  test::WriteFileBytes(dir / "QyrDelay.ini",
                       "[AUTORUN]\r\nFile0=" + probe + "\r\nDelay0=2\r\nDelay1=x\r\n");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  // The window exists (and is found) before its creation handler has filled the rows.
  EXPECT_TRUE(test::PumpUntil([&] { return program.ControlText(ControlId::kFile1Edit) == probe; },
                              std::chrono::seconds(5)));
  EXPECT_EQ(program.ControlText(ControlId::kDelay1Edit), "2");
  ASSERT_TRUE(test::PumpUntil([&] { return test::FileExists(probe + ".started"); },
                              std::chrono::seconds(15)));
  EXPECT_TRUE(test::PumpUntil(
      [&] { return program.ControlText(ControlId::kStatusLine) == "2>已启动:" + probe; },
      std::chrono::seconds(5)));
  EXPECT_TRUE(program.Close());
}

// A kept program starts again after its wait and backs off after three quick ends; the status
// query tells what each slot is doing.
TEST(Startup, AKeptProgramStartsAgainAndTheStatusQueryTellsEachSlot) {
  const WinsockSession winsock;
  ScratchDir dir("QyrNOR_kept");
  const std::string kept = dir / "kept.exe";  // runs three seconds, then ends
  const std::string once = dir / "once.exe";
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "launch_probe.exe", kept));
  ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "launch_probe.exe", once));
  test::WriteFileBytes(dir / "QyrDelay.ini",
                       "[AUTORUN]\r\nFile0=" + kept +
                           "\r\nDelay0=1\r\nRestart0=1\r\n"
                           "File1=C:\\nowhere\\missing.exe\r\nDelay1=1\r\nRestart1=1\r\n"
                           "File2=" +
                           once +
                           "\r\nDelay2=1\r\n"
                           "File3=" +
                           once +
                           "\r\nDelay3=600\r\n"
                           "[REMOTE]\r\nLog=1\r\n");
  test::RunningProgram program(dir);
  ASSERT_TRUE(program.WaitForWindow());
  ASSERT_TRUE(test::WaitForListener());
  std::string status;
  const auto shows = [&](const std::string& states) {
    return test::PumpUntil(
        [&] {
          status = test::Ask("QyrNOR_PC_STATUS");
          return status.starts_with("OK up=") && status.ends_with(states);
        },
        std::chrono::seconds(30));
  };
  const auto logged = [&](const std::string& line) {
    return test::PumpUntil(
        [&] { return test::ReadFileBytes(dir / "QyrDelay.log").find(line) != std::string::npos; },
        std::chrono::seconds(30));
  };
  EXPECT_TRUE(shows(" 1=run 2=failed 3=run 4=wait")) << status;
  EXPECT_TRUE(logged("slot 1 ended (exit code 0), started again in 1 s"));
  EXPECT_TRUE(shows(" 1=run 2=failed 3=ended 4=wait")) << status;
  // The third run in a row shorter than a minute: the next start waits a minute.
  EXPECT_TRUE(logged("slot 1 ended (exit code 0), started again in 60 s"));
  EXPECT_TRUE(shows(" 1=restart 2=failed 3=ended 4=wait")) << status;
  EXPECT_TRUE(logged(" QyrNOR_PC_STATUS -> OK"));
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace qyr
