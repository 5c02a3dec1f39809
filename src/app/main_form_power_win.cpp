// The power countdown: the full-screen shutdown screen, its ticks and the clicks that leave it.
#include "app/main_form_win.h"
#include "base/wide_win.h"
#include "launch/settings_win.h"
#include "remote/command_log.h"
#include "remote/power_win.h"

namespace qyr {

namespace {

constexpr LONG_PTR kFrameStyle = WS_CAPTION | WS_THICKFRAME;

bool Armed(const Countdowns& counts) { return counts.power_off != 0 || counts.reboot != 0; }

}  // namespace

void TMainForm::SetBorderless(bool borderless) {
  const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  // A popup without a frame is maximised over the whole screen, not just the work area.
  const LONG_PTR wanted =
      borderless ? (style & ~kFrameStyle) | WS_POPUP : (style & ~WS_POPUP) | kFrameStyle;
  if (wanted == style) return;
  SetWindowLongPtrW(hwnd_, GWL_STYLE, wanted);
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TMainForm::Render(const PowerEffects& effects) {
  if (effects.status) ShowStatus(*effects.status);
  if (effects.timer) TimerCTRL.SetEnabled(*effects.timer);
  if (effects.screen_text) {
    SetWindowTextUtf8(PanelLabel(PanelLabelId::Label1Tips), *effects.screen_text);
  }
  if (effects.shown) {
    HWND panel = Control(ControlId::PanelPowerOFFTips);
    ShowWindow(panel, *effects.shown ? SW_SHOW : SW_HIDE);
    if (*effects.shown) {
      // In front of the slot rows, buttons and check box, over the whole client area.
      SetWindowPos(panel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      panel_fills_client_ = true;
      ArrangePowerPanel();
    }
  }
  if (effects.form) ApplyWindowForm(*effects.form);
  for (const CountdownStep& step : effects.steps) {
    ShowStatus(step.status);
    SetWindowTextUtf8(PanelLabel(PanelLabelId::Label1Tips), step.screen);
    // Whether the machine goes down or not, the screen stays as it is.
    if (step.action) {
      StopKeeping();  // no kept program starts again behind the power action
      const bool privileged = EnableShutdownPrivilege();
      Log(PowerEvent(*step.action == PowerRequest::kReboot, privileged));
      FlushLog();  // the line is in the file before the PC goes down
      RequestPowerAction(*step.action);
    }
  }
}

void TMainForm::ApplyWindowForm(WindowForm form) {
  switch (form) {
    case WindowForm::kAsCreated:
      break;
    case WindowForm::kNormal:
      SetBorderless(false);
      // Back to the normal size; the window stays on top.
      ShowWindow(hwnd_, SW_RESTORE);
      break;
    case WindowForm::kFullScreen:
      SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      // The frame goes before maximising, so that the maximised size is that of a frameless
      // window.
      SetBorderless(true);
      if (!IsZoomed(hwnd_)) ShowWindow(hwnd_, SW_MAXIMIZE);
      RestoreMainWindow();
      break;
  }
}

void TMainForm::ShowPowerScreen(std::string_view text) { Render(power_.ShowScreen(text)); }

void TMainForm::TimerCTRLTimer() { Render(power_.OnTick()); }

void TMainForm::LabelStatusClick() {
  if (Armed(power_.Counts())) Log("countdown cancelled at the PC");
  Render(power_.OnStatusClick());
}

void TMainForm::Label1TipsClick() {
  if (power_.TimerOn() && Armed(power_.Counts())) Log("countdown paused at the PC");
  Render(power_.OnScreenClick());
}

void TMainForm::Label1Click() { ShowPowerScreen(kManualScreenText); }

namespace {

WallClock LocalWallClock(SYSTEMTIME* st) {
  GetLocalTime(st);
  return {st->wYear, st->wMonth, st->wDay, WeekdayFromSundayZero(st->wDayOfWeek), st->wHour,
          st->wMinute};
}

}  // namespace

void TMainForm::StartPowerClock() {
  const PowerSettings settings = ReadPowerSettings(SettingsPath());
  const PowerClock clock = ParsePowerClock(settings.off_at, settings.reboot_at, settings.days);
  if (!clock.ok()) {
    // An entry that cannot be read turns the clock off, and the status line names it.
    ShowStatus(PowerClockOffText(clock));
    Log("power clock off: invalid " + clock.bad_key + " entry " + EscapeForLog(clock.bad_entry));
    return;
  }
  if (!clock.Active()) return;
  SYSTEMTIME st = {};
  clock_.emplace(clock, LocalWallClock(&st));
  ArmClockTimer();
}

void TMainForm::ArmClockTimer() {
  SYSTEMTIME st = {};
  GetLocalTime(&st);
  SetTimer(hwnd_, kTimerClock, MsToNextMinute(st.wSecond, st.wMilliseconds), nullptr);
}

void TMainForm::OnClockTimer() {
  if (!clock_) return;
  ArmClockTimer();
  SYSTEMTIME st = {};
  const std::optional<ClockFiring> firing = clock_->OnTimer(LocalWallClock(&st));
  if (!firing) return;
  const Command command =
      firing->action == PowerRequest::kReboot ? Command::kReboot : Command::kPowerOff;
  PowerEffects effects = power_.OnCommand(command, "");
  effects.status = firing->status;
  Log(command == Command::kReboot ? "restart by the clock" : "power-off by the clock");
  Render(effects);
}

}  // namespace qyr
