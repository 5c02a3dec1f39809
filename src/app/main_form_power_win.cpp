// The power countdown: the full-screen shutdown screen, its ticks and the clicks that leave it.
#include "app/main_form_win.h"
#include "base/wide_win.h"
#include "remote/command_log.h"
#include "remote/power_win.h"

namespace qyr {

namespace {

constexpr LONG_PTR kFrameStyle = WS_CAPTION | WS_THICKFRAME;

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

void TMainForm::ShowPowerScreen(std::string_view text) {
  // A timer that already runs keeps its period: a repeated command does not delay the next tick.
  TimerCTRL.SetEnabled(true);
  HWND panel = Control(ControlId::PanelPowerOFFTips);
  ShowWindow(panel, SW_SHOW);
  SetWindowPos(panel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowTextUtf8(PanelLabel(PanelLabelId::Label1Tips), text);
  panel_fills_client_ = true;
  ArrangePowerPanel();
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // The frame goes before maximising, so that the maximised size is that of a frameless window.
  SetBorderless(true);
  if (!IsZoomed(hwnd_)) ShowWindow(hwnd_, SW_MAXIMIZE);
  RestoreMainWindow();
}

void TMainForm::TimerCTRLTimer() {
  Countdowns countdowns{PowerOffCountdown, RebootCountdown};
  const std::vector<CountdownStep> steps = CountdownTick(countdowns);
  PowerOffCountdown = countdowns.power_off;
  RebootCountdown = countdowns.reboot;
  for (const CountdownStep& step : steps) {
    ShowStatus(step.status);
    SetWindowTextUtf8(PanelLabel(PanelLabelId::Label1Tips), step.screen);
    // Whether the machine goes down or not, the screen stays as it is.
    if (step.action) {
      const bool privileged = EnableShutdownPrivilege();
      command_log_.Write(PowerEvent(*step.action == PowerRequest::kReboot, privileged));
      RequestPowerAction(*step.action);
    }
  }
}

void TMainForm::LabelStatusClick() {
  if (PowerOffCountdown != 0 || RebootCountdown != 0) command_log_.Write("countdown cancelled at the PC");
  PowerOffCountdown = 0;
  RebootCountdown = 0;
  TimerCTRL.SetEnabled(false);
  ShowWindow(Control(ControlId::PanelPowerOFFTips), SW_HIDE);
}

void TMainForm::Label1TipsClick() {
  if (TimerCTRL.Enabled() && (PowerOffCountdown != 0 || RebootCountdown != 0)) {
    command_log_.Write("countdown paused at the PC");
  }
  TimerCTRL.SetEnabled(false);
  ShowWindow(Control(ControlId::PanelPowerOFFTips), SW_HIDE);
  SetBorderless(false);
  // Back to the normal size; the countdowns wait for the next screen and the window stays on top.
  ShowWindow(hwnd_, SW_RESTORE);
}

void TMainForm::Label1Click() { ShowPowerScreen(kManualScreenText); }

}  // namespace qyr
