#include "remote/power_screen.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

enum class Ev { kOff, kReboot, kCheck, kTick, kStatusClick, kScreenClick, kManualScreen };

PowerEffects Apply(PowerScreen& screen, Ev ev) {
  switch (ev) {
    case Ev::kOff:
      return screen.OnCommand(Command::kPowerOff, "QyrNOR_PC_OFF");
    case Ev::kReboot:
      return screen.OnCommand(Command::kReboot, "QyrNOR_PC_REBOOT");
    case Ev::kCheck:
      return screen.OnCommand(Command::kCheck, "QyrNOR_PC_CHECK");
    case Ev::kTick:
      return screen.OnTick();
    case Ev::kStatusClick:
      return screen.OnStatusClick();
    case Ev::kScreenClick:
      return screen.OnScreenClick();
    case Ev::kManualScreen:
      break;
  }
  return screen.ShowScreen(kManualScreenText);
}

// The shutdown screen's states and transitions. Each row reaches its state by events, applies
// one more and states where that leads and what the window is told to do.
TEST(PowerScreenModel, StateTable) {
  using enum Ev;
  using enum PowerPhase;
  using enum WindowForm;
  const std::vector<Ev> idle, counting = {kOff, kTick}, screen_only = {kManualScreen};
  const std::vector<Ev> paused = {kOff, kTick, kScreenClick}, cancelled = {kOff, kStatusClick};
  const std::vector<Ev> off_at_1 = {kOff, kTick, kTick, kTick, kTick};
  const std::vector<Ev> replaced_at_1 = {kOff, kReboot, kTick, kTick, kTick, kTick};
  const std::vector<Ev> rebooting = {kReboot, kTick, kTick},
                        paused_reboot = {kReboot, kTick, kScreenClick};
  using R = PowerRequest;
  const struct {
    const char* name;
    std::vector<Ev> before;
    Ev event;
    PowerPhase phase;
    Countdowns counts;
    WindowForm form;
    std::optional<bool> timer;  // what the event tells the control timer
    std::vector<PowerRequest> actions = {};
  } rows[] = {
      {"idle, power-off", idle, kOff, kCounting, {5, 0}, kFullScreen, true},
      {"idle, reboot", idle, kReboot, kCounting, {0, 5}, kFullScreen, true},
      {"idle, other command", idle, kCheck, kIdle, {0, 0}, kAsCreated, {}},
      {"idle, shown by hand", idle, kManualScreen, kScreenOnly, {0, 0}, kFullScreen, true},
      {"idle, status line", idle, kStatusClick, kIdle, {0, 0}, kAsCreated, false},
      {"counting, power-off again", counting, kOff, kCounting, {5, 0}, kFullScreen, true},
      // The last power command is the one that happens; the other countdown is cleared.
      {"counting, reboot replaces", counting, kReboot, kCounting, {0, 5}, kFullScreen, true},
      {"rebooting, power-off replaces", rebooting, kOff, kCounting, {5, 0}, kFullScreen, true},
      {"rebooting, reboot again", rebooting, kReboot, kCounting, {0, 5}, kFullScreen, true},
      {"paused reboot, power-off", paused_reboot, kOff, kCounting, {5, 0}, kFullScreen, true},
      {"counting, tick", counting, kTick, kCounting, {3, 0}, kFullScreen, {}},
      {"counting, last tick", off_at_1, kTick, kScreenOnly, {}, kFullScreen, {}, {R::kPowerOff}},
      {"replaced at 1", replaced_at_1, kTick, kScreenOnly, {}, kFullScreen, {}, {R::kReboot}},
      {"counting, shown by hand", counting, kManualScreen, kCounting, {4, 0}, kFullScreen, true},
      {"counting, status line", counting, kStatusClick, kCancelled, {0, 0}, kFullScreen, false},
      {"counting, screen", counting, kScreenClick, kPaused, {4, 0}, kNormal, false},
      {"counting, other command", counting, kCheck, kCounting, {4, 0}, kFullScreen, {}},
      {"screen only, tick", screen_only, kTick, kScreenOnly, {0, 0}, kFullScreen, {}},
      {"screen only, reboot", screen_only, kReboot, kCounting, {0, 5}, kFullScreen, true},
      {"screen only, status", screen_only, kStatusClick, kCancelled, {0, 0}, kFullScreen, false},
      {"screen only, screen", screen_only, kScreenClick, kPaused, {0, 0}, kNormal, false},
      {"paused, shown by hand resumes",
       paused,
       kManualScreen,
       kCounting,
       {4, 0},
       kFullScreen,
       true},
      {"paused, reboot", paused, kReboot, kCounting, {0, 5}, kFullScreen, true},
      {"paused, status line drops", paused, kStatusClick, kPaused, {0, 0}, kNormal, false},
      {"cancelled, shown by hand",
       cancelled,
       kManualScreen,
       kScreenOnly,
       {0, 0},
       kFullScreen,
       true},
      {"cancelled, power-off", cancelled, kOff, kCounting, {5, 0}, kFullScreen, true},
      {"cancelled, status line", cancelled, kStatusClick, kCancelled, {0, 0}, kFullScreen, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PowerScreen screen;
    for (Ev ev : row.before) Apply(screen, ev);
    const PowerEffects effects = Apply(screen, row.event);
    EXPECT_EQ(screen.Phase(), row.phase);
    EXPECT_EQ(screen.Counts(), row.counts);
    EXPECT_EQ(screen.Form(), row.form);
    EXPECT_EQ(effects.timer, row.timer);
    std::vector<PowerRequest> actions;
    for (const CountdownStep& step : effects.steps) {
      if (step.action) actions.push_back(*step.action);
    }
    EXPECT_EQ(actions, row.actions);
    // The timer runs exactly while the screen is up; once up, the window stays topmost.
    EXPECT_EQ(screen.TimerOn(), screen.Shown());
    EXPECT_EQ(screen.Topmost(), screen.Form() != kAsCreated);
    if (effects.shown) {
      EXPECT_EQ(*effects.shown, screen.Shown());
    }
    // The window is told to change its form only by the screen and the click that leaves it.
    EXPECT_EQ(effects.form.has_value(), effects.shown.has_value() && row.event != kStatusClick);
  }
}

// What the model asks the window to note for the status reply and to write to the command log:
// an armed power command, a countdown cancelled or paused at the PC, and nothing for a click
// that stops no countdown.
TEST(PowerScreenModel, PowerEventsAndLogLines) {
  using enum Ev;
  using P = PowerEvent;
  const std::vector<std::string> cancel = {"countdown cancelled at the PC"};
  const std::vector<std::string> pause = {"countdown paused at the PC"};
  const std::vector<Ev> at_zero = {kOff, kTick, kTick, kTick, kTick, kTick};
  const struct {
    const char* name;
    std::vector<Ev> before;
    Ev event;
    std::optional<PowerEvent> noted;
    std::vector<std::string> log;
  } rows[] = {
      {"power-off", {}, kOff, P::kOff, {}},
      {"reboot over a power-off", {kOff, kTick}, kReboot, P::kReboot, {}},
      {"other command while counting", {kOff}, kCheck, {}, {}},
      {"status line while counting", {kOff, kTick}, kStatusClick, P::kCancelled, cancel},
      // A paused countdown is still armed: dropping it is a cancel.
      {"status line while paused", {kReboot, kScreenClick}, kStatusClick, P::kCancelled, cancel},
      {"status line, nothing armed", {kManualScreen}, kStatusClick, {}, {}},
      {"status line after the last tick", at_zero, kStatusClick, {}, {}},
      {"screen while counting", {kOff}, kScreenClick, {}, pause},
      {"screen while counting again", {kOff, kScreenClick, kManualScreen}, kScreenClick, {}, pause},
      {"screen shown by hand", {kManualScreen}, kScreenClick, {}, {}},
      {"tick", {kOff}, kTick, {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PowerScreen screen;
    for (Ev ev : row.before) Apply(screen, ev);
    const PowerEffects effects = Apply(screen, row.event);
    EXPECT_EQ(effects.noted, row.noted);
    EXPECT_EQ(effects.log, row.log);
  }
}

TEST(PowerScreenModel, TextsForTheStatusLineAndTheScreen) {
  PowerScreen screen;
  EXPECT_EQ(screen.ScreenText(), "");  // the layout's own text until the screen is first raised
  PowerEffects e = screen.OnCommand(Command::kPowerOff, "x QyrNOR_PC_OFF");
  EXPECT_EQ(e.status, "收到指令:关闭电脑x QyrNOR_PC_OFF");
  EXPECT_EQ(e.screen_text, kPowerOffScreenText);
  e = screen.OnCommand(Command::kReboot, "QyrNOR_PC_REBOOT");
  EXPECT_EQ(e.screen_text, kRebootScreenText);
  e = screen.OnCommand(Command::kUnknown, "hello");
  EXPECT_EQ(e.status, "未知指令hello");
  EXPECT_FALSE(e.screen_text || e.timer || e.shown || e.form);
  e = screen.OnTick();
  // Only the restart that will happen is shown, and so the other way round.
  ASSERT_EQ(e.steps.size(), 1u);
  EXPECT_EQ(screen.ScreenText(), "5秒后,重启电脑");
  screen.OnCommand(Command::kPowerOff, "QyrNOR_PC_OFF");
  e = screen.OnTick();
  ASSERT_EQ(e.steps.size(), 1u);
  EXPECT_EQ(e.steps[0].status, "5秒后,关闭电脑");
  EXPECT_EQ(screen.ScreenText(), "5秒后,关闭电脑");
  e = screen.ShowScreen(kManualScreenText);
  EXPECT_FALSE(e.status);  // shown by hand, nothing is reported
  EXPECT_EQ(screen.ScreenText(), kManualScreenText);
  e = screen.OnStatusClick();
  EXPECT_FALSE(e.status || e.screen_text);  // the line keeps the last countdown text
}

}  // namespace
}  // namespace qyr
