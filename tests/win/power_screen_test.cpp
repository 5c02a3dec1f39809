// The shutdown screen on the real window: the full screen a power command turns it into, the
// ticks it shows, and the clicks that cancel, pause or show it by hand. No test here lets a
// countdown reach its power action: that would end every process of the Wine session.
#include <windows.h>

#include "app/main_window_win.h"
#include "base/wide_win.h"
#include "form_fixture_win.h"
#include "remote/status_reply.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

using test::Click;
using test::ScratchDir;

struct PowerForm : test::FormFixture {
  using FormFixture::FormFixture;
  HWND Panel() const { return form.Control(ControlId::kPowerScreen); }
  std::string Screen() const {
    return WindowTextUtf8(form.Screen().PanelLabel(PanelLabelId::kScreenMessage));
  }
  bool TimerRuns() const { return form.Screen().ControlTimer().Enabled(); }
  const Countdowns& Counts() const { return form.Screen().Model().Counts(); }
};

RECT PlaceInParent(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The innermost visible control of `top` at a point on the screen, as the mouse would find it.
HWND ControlAt(HWND top, POINT screen) {
  HWND found = top;
  for (;;) {
    POINT p = screen;
    ScreenToClient(found, &p);
    HWND child = ChildWindowFromPointEx(found, p, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    if (child == nullptr || child == found) return found;
    found = child;
  }
}

bool HasStyle(HWND w, LONG_PTR bits) { return (GetWindowLongPtrW(w, GWL_STYLE) & bits) != 0; }
bool Topmost(HWND w) { return (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

::testing::AssertionResult FullScreen(HWND w) {
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTOPRIMARY), &mi);
  RECT r = {};
  GetWindowRect(w, &r);
  RECT client = {};
  GetClientRect(w, &client);
  if (!IsWindowVisible(w) || !IsZoomed(w) || HasStyle(w, WS_CAPTION | WS_THICKFRAME) ||
      !Topmost(w) || !EqualRect(&r, &mi.rcMonitor) || client.right != r.right - r.left ||
      client.bottom != r.bottom - r.top) {
    return ::testing::AssertionFailure()
           << "visible " << IsWindowVisible(w) << " zoomed " << IsZoomed(w) << " framed "
           << HasStyle(w, WS_CAPTION | WS_THICKFRAME) << " topmost " << Topmost(w) << " at "
           << r.left << "," << r.top << "-" << r.right << "," << r.bottom << " client "
           << client.right << "x" << client.bottom;
  }
  return ::testing::AssertionSuccess();
}

struct CommandCase {
  const char* command;
  const char* first_screen;
  const char* first_tick_status;
  const char* first_tick_screen;
  Countdowns after_first_tick;
  const char* armed_before = nullptr;  // the other power command, just before
};

TEST(PowerScreen, ACommandTurnsTheWindowIntoTheCountdownScreen) {
  const CommandCase cases[] = {
      {"QyrNOR_PC_OFF", "正在关机中...", "5秒后,关闭电脑", "5秒后,关闭电脑", {4, 0}},
      {"QyrNOR_PC_REBOOT", "正在重启中...", "5秒后,重启", "5秒后,重启电脑", {0, 4}},
      // The last power command is the one that happens; the other one's countdown is gone.
      {"QyrNOR_PC_OFF",
       "正在关机中...",
       "5秒后,关闭电脑",
       "5秒后,关闭电脑",
       {4, 0},
       "QyrNOR_PC_REBOOT"},
      {"QyrNOR_PC_REBOOT",
       "正在重启中...",
       "5秒后,重启",
       "5秒后,重启电脑",
       {0, 4},
       "QyrNOR_PC_OFF"},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(std::string(c.armed_before ? c.armed_before : "") + " " + c.command);
    ScratchDir dir("Qyr_power_screen");
    PowerForm f(dir);
    HWND form = f.form.hwnd();
    ASSERT_FALSE(IsWindowVisible(form));
    if (c.armed_before) {
      EXPECT_EQ(f.form.Remote().HandleCommand(c.armed_before), "OK");
    }
    EXPECT_EQ(f.form.Remote().HandleCommand(c.command), "OK");

    EXPECT_TRUE(FullScreen(form));
    EXPECT_TRUE(f.TimerRuns());
    EXPECT_TRUE(IsWindowVisible(f.Panel()));
    EXPECT_EQ(f.Screen(), c.first_screen);
    // The panel fills everything above the status line, which stays along the bottom.
    RECT client = {};
    GetClientRect(form, &client);
    const RECT status = PlaceInParent(f.form.Control(ControlId::kStatusLine));
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_EQ(status.right - status.left, client.right);
    const RECT panel = PlaceInParent(f.Panel());
    EXPECT_EQ(panel.left, 0);
    EXPECT_EQ(panel.top, 0);
    EXPECT_EQ(panel.right, client.right);
    EXPECT_EQ(panel.bottom, status.top);
    const RECT strip = PlaceInParent(f.form.Screen().PanelLabel(PanelLabelId::kScreenTitle));
    EXPECT_EQ(strip.bottom - strip.top, 121);
    const RECT tips = PlaceInParent(f.form.Screen().PanelLabel(PanelLabelId::kScreenMessage));
    EXPECT_EQ(tips.top, strip.bottom);
    EXPECT_EQ(tips.bottom, panel.bottom - panel.top - 1);  // inside the one-pixel bevel

    // In front of every control: first in the stacking order, and where the Save button sits
    // the screen's text is what the mouse meets. Asked of the window itself: a screen that a
    // test running beside this one raises may lie above the whole window.
    EXPECT_EQ(GetWindow(form, GW_CHILD), f.Panel());
    RECT save = {};
    GetWindowRect(f.form.Control(ControlId::kSaveButton), &save);
    EXPECT_EQ(ControlAt(form, {(save.left + save.right) / 2, (save.top + save.bottom) / 2}),
              f.form.Screen().PanelLabel(PanelLabelId::kScreenMessage));

    // The first real tick of the control timer writes the countdown; cancel before the next.
    EXPECT_TRUE(
        test::PumpUntil([&] { return f.Screen() != c.first_screen; }, std::chrono::seconds(10)));
    EXPECT_EQ(f.Counts(), c.after_first_tick);
    test::Click(f.form.Control(ControlId::kStatusLine));
    EXPECT_EQ(f.Status(), c.first_tick_status);
    EXPECT_EQ(f.Screen(), c.first_tick_screen);
  }
}

TEST(PowerScreen, AClickOnTheStatusLineCancelsAndLeavesTheFullScreenWindow) {
  ScratchDir dir("Qyr_power_cancel");
  PowerForm f(dir);
  HWND form = f.form.hwnd();
  // The last power event, which the status reply gives the hall after the slots.
  const auto last_power = [&] {
    const std::optional<LastPower>& power = f.form.Screen().LastPowerEvent();
    return power ? std::string(PowerEventText(power->what)) : std::string("none");
  };
  EXPECT_EQ(last_power(), "none");
  f.form.Remote().HandleCommand("QyrNOR_PC_OFF");
  EXPECT_EQ(last_power(), "off");
  f.form.Remote().HandleCommand("QyrNOR_PC_REBOOT");
  EXPECT_EQ(last_power(), "reboot");
  f.Fire(kTimerCtrl);
  f.Fire(kTimerCtrl);
  EXPECT_EQ(f.Status(), "4秒后,重启");  // the reboot texts overwrite the power-off ones

  Click(f.form.Control(ControlId::kStatusLine));
  EXPECT_EQ(last_power(), "cancelled");
  EXPECT_EQ(f.Counts(), Countdowns{});
  EXPECT_FALSE(f.TimerRuns());
  EXPECT_FALSE(IsWindowVisible(f.Panel()));
  EXPECT_TRUE(FullScreen(form));
  EXPECT_EQ(f.Status(), "4秒后,重启");
  // The normal layout, spread over the screen: the Save button keeps to the bottom.
  RECT client = {};
  GetClientRect(form, &client);
  const RECT save = PlaceInParent(f.form.Control(ControlId::kSaveButton));
  EXPECT_EQ(client.bottom - save.bottom, 267 - 238);

  // Shown again by hand: no countdown, the ticks change nothing.
  Click(f.form.Control(ControlId::kSlot1Label));
  EXPECT_TRUE(IsWindowVisible(f.Panel()));
  EXPECT_TRUE(f.TimerRuns());
  EXPECT_EQ(f.Screen(), "显示关机界面");
  f.Fire(kTimerCtrl);
  f.Fire(kTimerCtrl);
  EXPECT_EQ(f.Screen(), "显示关机界面");
  EXPECT_EQ(f.Status(), "4秒后,重启");
  EXPECT_TRUE(FullScreen(form));
  // As the hall reads it (a status query writes its own status line, so it comes last).
  const StatusReplyParse reply =
      ParseStatusReply(f.form.Remote().HandleCommand("QyrNOR_PC_STATUS"));
  EXPECT_EQ(reply.error, StatusError::kNone);
  ASSERT_TRUE(reply.power);
  EXPECT_EQ(reply.power->what, PowerEvent::kCancelled);
}

TEST(PowerScreen, BoxesOpenAboveTheWindowThatTheScreenLeftTopmost) {
  // Cancelled on the status line or left by a click on the screen: the window stays topmost.
  for (const ControlId click : {ControlId::kStatusLine, ControlId::kPowerScreen}) {
    ScratchDir dir("Qyr_power_box");
    PowerForm f(dir);
    HWND form = f.form.hwnd();
    f.form.Remote().HandleCommand("QyrNOR_PC_OFF");
    Click(click == ControlId::kStatusLine
              ? f.form.Control(click)
              : f.form.Screen().PanelLabel(PanelLabelId::kScreenMessage));
    ASSERT_TRUE(Topmost(form));
    f.form.SetControlText(ControlId::kDelay2Edit, "x");
    bool disabled_while_open = false;
    test::BoxCatcher box(GetCurrentProcessId(),
                         [&] { disabled_while_open = !IsWindowEnabled(form); });
    SendMessageW(f.form.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
    box.Stop();
    ASSERT_TRUE(box.seen());
    EXPECT_EQ(box.text(), "'x' is not a valid integer value.");
    EXPECT_TRUE(box.has_stop_icon());
    EXPECT_EQ(box.owner(), form);
    EXPECT_TRUE(box.topmost());
    EXPECT_TRUE(disabled_while_open);  // still modal
    EXPECT_TRUE(IsWindowEnabled(form));
  }
}

TEST(PowerScreen, AClickOnTheScreenTextGivesTheFrameBackAndPauses) {
  for (const PanelLabelId label : {PanelLabelId::kScreenMessage, PanelLabelId::kScreenTitle}) {
    SCOPED_TRACE(std::string(PanelRowOf(label).name));
    ScratchDir dir("Qyr_power_pause");
    PowerForm f(dir);
    HWND form = f.form.hwnd();
    f.form.Remote().HandleCommand("QyrNOR_PC_OFF");
    for (int i = 0; i < 3; ++i) f.Fire(kTimerCtrl);
    ASSERT_EQ(f.Screen(), "3秒后,关闭电脑");

    Click(f.form.Screen().PanelLabel(label));
    EXPECT_FALSE(f.TimerRuns());
    EXPECT_FALSE(IsWindowVisible(f.Panel()));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_FALSE(IsZoomed(form));
    EXPECT_TRUE(HasStyle(form, WS_CAPTION));
    EXPECT_TRUE(HasStyle(form, WS_THICKFRAME));
    EXPECT_FALSE(HasStyle(form, WS_POPUP));
    EXPECT_TRUE(Topmost(form));
    RECT client = {};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, 497);
    EXPECT_EQ(client.bottom, 267);
    EXPECT_EQ(f.Counts().power_off, 2);

    // The next screen goes on where the countdown stopped.
    Click(f.form.Control(ControlId::kSlot1Label));
    EXPECT_EQ(f.Screen(), "显示关机界面");
    EXPECT_TRUE(FullScreen(form));
    f.Fire(kTimerCtrl);
    EXPECT_EQ(f.Screen(), "2秒后,关闭电脑");
    test::Click(f.form.Control(ControlId::kStatusLine));
  }
}

TEST(PowerScreen, ShownByHandNothingIsPoweredOffAndTheScreenStays) {
  ScratchDir dir("Qyr_power_manual");
  PowerForm f(dir);
  Click(f.form.Control(ControlId::kSlot1Label));
  EXPECT_TRUE(FullScreen(f.form.hwnd()));
  EXPECT_EQ(f.Screen(), "显示关机界面");
  // No status text: the line is still the disabled one of the start.
  EXPECT_EQ(f.Status(), "延时启动正在运行....");
  EXPECT_FALSE(IsWindowEnabled(f.form.Control(ControlId::kStatusLine)));
  // Real ticks of the control timer pass; the process is still here to see the screen unchanged.
  ASSERT_TRUE(test::PumpTimerTicks(f.form.hwnd(), kTimerCtrl, 2, std::chrono::seconds(10)));
  EXPECT_EQ(f.Screen(), "显示关机界面");
  EXPECT_TRUE(IsWindowVisible(f.Panel()));
  EXPECT_EQ(f.Counts(), Countdowns{});
}

TEST(PowerScreen, TheScreenIsScaledWithTheWindow) {
  ScratchDir dir("Qyr_power_dpi");
  PowerForm f(dir, {.dpi = 144});
  Click(f.form.Control(ControlId::kSlot1Label));
  const struct {
    PanelLabelId id;
    const char* face;
    int height;
  } fonts[] = {{PanelLabelId::kScreenTitle, "宋体", 60},
               {PanelLabelId::kScreenMessage, "黑体", 101}};
  for (const auto& font : fonts) {
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(
                   SendMessageW(f.form.Screen().PanelLabel(font.id), WM_GETFONT, 0, 0)),
               sizeof(lf), &lf);
    EXPECT_EQ(WideToUtf8(lf.lfFaceName), font.face);
    EXPECT_EQ(lf.lfHeight, -font.height);
  }
  const RECT strip = PlaceInParent(f.form.Screen().PanelLabel(PanelLabelId::kScreenTitle));
  EXPECT_EQ(strip.bottom - strip.top, 182);
  test::Click(f.form.Control(ControlId::kStatusLine));
}

TEST(PowerScreen, TheLabelsPaintInTheirColours) {
  ScratchDir dir("Qyr_power_look");
  PowerForm f(dir);
  const struct {
    PanelLabelId id;
    COLORREF text;
    COLORREF back;
  } looks[] = {
      {PanelLabelId::kScreenTitle, GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_BACKGROUND)},
      {PanelLabelId::kScreenMessage, RGB(0, 128, 0), RGB(0, 0, 0)},
  };
  HDC dc = CreateCompatibleDC(nullptr);
  for (const auto& look : looks) {
    HWND label = f.form.Screen().PanelLabel(look.id);
    // Asked the way the label asks its parent, the panel.
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(label), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(label)));
    LOGBRUSH lb = {};
    GetObjectW(brush, sizeof(lb), &lb);
    EXPECT_EQ(GetTextColor(dc), look.text);
    EXPECT_EQ(lb.lbColor, look.back);
    EXPECT_EQ(GetParent(label), f.Panel());
  }
  DeleteDC(dc);
}

}  // namespace
}  // namespace qyr
