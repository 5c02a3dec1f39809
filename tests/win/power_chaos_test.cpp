// A thousand random commands, clicks and ticks against the real window while countdowns
// run; after every step the window is in exactly the state the steps so far imply. No tick is
// ever given on which a countdown would reach its power action (it would end the Wine session),
// and the control timer is detached so that no real tick can arrive meanwhile.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>

#include "app/main_form_win.h"
#include "base/wide_win.h"
#include "remote/countdown.h"
#include "test_support_win.h"

namespace qyr {
namespace {

enum class Step { kOff, kReboot, kCheck, kNoise, kClickStatus, kClickScreen, kClickLabel1, kTick };

// What the steps imply.
struct Model {
  Countdowns countdowns;
  bool timer = false;
  bool screen = false;
  bool full_screen = false;  // maximised and borderless
  bool topmost = false;
  std::string screen_text = "系统关机中...";  // the layout's text, never seen

  void Show(const char* text) {
    timer = screen = full_screen = topmost = true;
    screen_text = text;
  }
};

void Click(HWND label) {
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

TEST(PowerChaos, RandomCommandsClicksAndTicksEndInTheImpliedState) {
  test::ScratchDir dir("Qyr_chaos");
  TMainForm form(dir / "QyrDelay.exe");
  ASSERT_TRUE(form.Create(SW_HIDE));
  form.TimerTask.SetEnabled(false);
  form.TimerCTRL.Detach();
  HWND window = form.hwnd();
  HWND panel = form.Control(ControlId::PanelPowerOFFTips);
  HWND screen_label = form.PanelLabel(PanelLabelId::Label1Tips);

  Model m;
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(Step::kTick));
  for (int i = 0; i < 1000; ++i) {
    const Step step = static_cast<Step>(pick(random));
    switch (step) {
      case Step::kOff:
        EXPECT_EQ(form.HandleCommand("xx qyrnor_pc_off\r\n"), "OK");
        m.countdowns.power_off = kCountdownStart;
        m.Show(kPowerOffScreenText);
        break;
      case Step::kReboot:
        EXPECT_EQ(form.HandleCommand("QyrNOR_PC_REBOOT"), "OK");
        m.countdowns.reboot = kCountdownStart;
        m.Show(kRebootScreenText);
        break;
      case Step::kCheck:
        EXPECT_EQ(form.HandleCommand("QyrNOR_PC_CHECK"), "OK");
        break;
      case Step::kNoise:
        EXPECT_EQ(form.HandleCommand("QyrNOR_PC_OF"), "ERR");
        break;
      case Step::kClickStatus:
        Click(form.Control(ControlId::LabelStatus));
        m.countdowns = {};
        m.timer = m.screen = false;
        break;
      case Step::kClickScreen:
        if (!m.screen) continue;  // nothing there to click
        Click(screen_label);
        m.timer = m.screen = m.full_screen = false;
        break;
      case Step::kClickLabel1:
        Click(form.Control(ControlId::Label1));
        m.Show(kManualScreenText);
        break;
      case Step::kTick:
        if (!m.timer || m.countdowns.power_off == 1 || m.countdowns.reboot == 1) continue;
        form.TimerCTRLTimer();
        for (const CountdownStep& s : CountdownTick(m.countdowns)) m.screen_text = s.screen;
        break;
    }
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SCOPED_TRACE("step " + std::to_string(i) + " kind " + std::to_string(static_cast<int>(step)));
    ASSERT_EQ(form.PowerOffCountdown, m.countdowns.power_off);
    ASSERT_EQ(form.RebootCountdown, m.countdowns.reboot);
    ASSERT_EQ(form.TimerCTRL.Enabled(), m.timer);
    ASSERT_EQ(IsWindowVisible(panel) != 0, m.screen);
    ASSERT_EQ(IsZoomed(window) != 0, m.full_screen);
    ASSERT_EQ((style & WS_CAPTION) == 0, m.full_screen);
    ASSERT_EQ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, m.topmost);
    ASSERT_EQ(WindowTextUtf8(screen_label), m.screen_text);
  }
}

}  // namespace
}  // namespace qyr
