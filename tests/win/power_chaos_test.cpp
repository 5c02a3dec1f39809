// A thousand random commands, clicks and ticks against the real window while countdowns
// run, with the program's own shutdown-screen model fed the same events beside it: after every
// step the window holds that model's state and shows exactly what it says. No tick is ever
// given on which a countdown would reach its power action (it would end the Wine session), and
// the control timer is killed at the window after every step, so no real tick comes between.
#include <random>

#include <windows.h>

#include "base/wide_win.h"
#include "form_fixture_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

enum class Step {
  kOff,
  kReboot,
  kCheck,
  kNoise,
  kClickStatus,
  kClickScreen,
  kClickSlot1Label,
  kTick
};

TEST(PowerChaos, RandomCommandsClicksAndTicksEndInTheImpliedState) {
  test::ScratchDir dir("Qyr_chaos");
  test::FormFixture f(dir);
  const MainWindow& form = f.form;
  HWND window = form.hwnd();
  HWND panel = form.Control(ControlId::kPowerScreen);
  HWND screen_label = form.Screen().PanelLabel(PanelLabelId::kScreenMessage);
  const std::string layout_text = WindowTextUtf8(screen_label);

  PowerScreen model;
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(Step::kTick));
  for (int i = 0; i < 1000; ++i) {
    const Step step = static_cast<Step>(pick(random));
    switch (step) {
      case Step::kOff:
        EXPECT_EQ(f.form.Remote().HandleCommand("xx qyrnor_pc_off\r\n"), "OK");
        model.OnCommand(Command::kPowerOff, "");
        break;
      case Step::kReboot:
        EXPECT_EQ(f.form.Remote().HandleCommand("QyrNOR_PC_REBOOT"), "OK");
        model.OnCommand(Command::kReboot, "");
        break;
      case Step::kCheck:
        EXPECT_EQ(f.form.Remote().HandleCommand("QyrNOR_PC_CHECK"), "OK");
        model.OnCommand(Command::kCheck, "");
        break;
      case Step::kNoise:
        EXPECT_EQ(f.form.Remote().HandleCommand("QyrNOR_PC_OF"), "ERR");
        model.OnCommand(Command::kUnknown, "");
        break;
      case Step::kClickStatus:
        test::Click(form.Control(ControlId::kStatusLine));
        model.OnStatusClick();
        break;
      case Step::kClickScreen:
        if (!model.Shown()) continue;  // nothing there to click
        test::Click(screen_label);
        model.OnScreenClick();
        break;
      case Step::kClickSlot1Label:
        test::Click(form.Control(ControlId::kSlot1Label));
        model.ShowScreen(kManualScreenText);
        break;
      case Step::kTick:
        if (!model.TimerOn() || model.Counts().power_off == 1 || model.Counts().reboot == 1) {
          continue;
        }
        f.Fire(kTimerCtrl);
        model.OnTick();
        break;
    }
    KillTimer(window, kTimerCtrl);
    SCOPED_TRACE("step " + std::to_string(i) + " kind " + std::to_string(static_cast<int>(step)));
    ASSERT_EQ(form.Screen().Model(), model);
    const bool full_screen = model.Form() == WindowForm::kFullScreen;
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    ASSERT_EQ(form.Screen().ControlTimer().Enabled(), model.TimerOn());
    ASSERT_EQ(IsWindowVisible(panel) != 0, model.Shown());
    ASSERT_EQ(IsWindowVisible(window) != 0, model.Form() != WindowForm::kAsCreated);
    ASSERT_EQ(IsZoomed(window) != 0, full_screen);
    ASSERT_EQ((style & WS_CAPTION) == 0, full_screen);
    ASSERT_EQ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, model.Topmost());
    ASSERT_EQ(WindowTextUtf8(screen_label),
              model.ScreenText().empty() ? layout_text : model.ScreenText());
  }
}

}  // namespace
}  // namespace qyr
