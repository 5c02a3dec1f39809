// The built QyrDelay.exe started as a technician or the system would start it.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/layout.h"
#include "base/wide_win.h"
#include "e2e_support_win.h"
#include "test_support_win.h"

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
  EXPECT_TRUE(test::PumpUntil(
      [&] { return program.ControlText(ControlId::EditFile1) == probe; }, std::chrono::seconds(5)));
  EXPECT_EQ(program.ControlText(ControlId::EditDelay1), "2");
  ASSERT_TRUE(test::PumpUntil([&] { return test::FileExists(probe + ".started"); },
                              std::chrono::seconds(15)));
  EXPECT_TRUE(test::PumpUntil(
      [&] { return program.ControlText(ControlId::LabelStatus) == "2>已启动:" + probe; },
      std::chrono::seconds(5)));
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace qyr
