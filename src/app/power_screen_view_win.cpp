#include "app/power_screen_view_win.h"

#include "base/wide_win.h"
#include "remote/command_log.h"
#include "remote/power_win.h"
#include "remote/protocol_win.h"

namespace qyr {

namespace {

constexpr LONG_PTR kFrameStyle = WS_CAPTION | WS_THICKFRAME;

}  // namespace

void PowerScreenView::Attach(const Parts& parts) {
  parts_ = parts;
  control_timer_.Attach(parts.window);
}

void PowerScreenView::Note(PowerEvent what) {
  SYSTEMTIME st = {};
  GetLocalTime(&st);
  last_power_ = LastPower{what, st.wHour * 3600 + st.wMinute * 60 + st.wSecond};
}

ScreenOutcome PowerScreenView::Obey(Command command, std::string_view text) {
  return Render(model_.OnCommand(command, CommandTextToUtf8(text)));
}

ScreenOutcome PowerScreenView::ObeyClock(Command command, std::string_view status) {
  PowerEffects effects = model_.OnCommand(command, "");
  effects.status = std::string(status);
  return Render(effects);
}

std::optional<ScreenOutcome> PowerScreenView::OnMessage(UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_TIMER && wp == kTimerCtrl) return Render(model_.OnTick());
  if (msg != WM_COMMAND || HIWORD(wp) != STN_CLICKED) return std::nullopt;
  const int id = LOWORD(wp);
  if (id == ControlWindowId(ControlId::kStatusLine)) return Render(model_.OnStatusClick());
  // The screen by hand, without a countdown.
  if (id == ControlWindowId(ControlId::kSlot1Label)) {
    return Render(model_.ShowScreen(kManualScreenText));
  }
  if (id == PanelLabelWindowId(PanelLabelId::kScreenTitle) ||
      id == PanelLabelWindowId(PanelLabelId::kScreenMessage)) {
    return Render(model_.OnScreenClick());
  }
  return std::nullopt;
}

ScreenOutcome PowerScreenView::Render(const PowerEffects& effects) {
  ScreenOutcome outcome;
  if (effects.noted) Note(*effects.noted);
  for (const std::string& line : effects.log) log_.Log(line);
  if (effects.status) outcome.status.push_back(*effects.status);
  if (effects.timer) control_timer_.SetEnabled(*effects.timer);
  if (effects.screen_text) {
    SetWindowTextUtf8(PanelLabel(PanelLabelId::kScreenMessage), *effects.screen_text);
  }
  if (effects.shown) {
    ShowWindow(parts_.panel, *effects.shown ? SW_SHOW : SW_HIDE);
    if (*effects.shown) {
      // In front of the slot rows, buttons and check box, over the whole client area.
      SetWindowPos(parts_.panel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      panel_fills_client_ = true;
      ArrangePanel();
    }
  }
  if (effects.form) {
    ApplyWindowForm(*effects.form);
    outcome.bring_to_front = *effects.form == WindowForm::kFullScreen;
  }
  for (const CountdownStep& step : effects.steps) {
    outcome.status.push_back(step.status);
    SetWindowTextUtf8(PanelLabel(PanelLabelId::kScreenMessage), step.screen);
    // Whether the machine goes down or not, the screen stays as it is.
    if (step.action) outcome.power.push_back(*step.action);
  }
  return outcome;
}

void PowerScreenView::RequestPower(PowerRequest request) {
  const bool privileged = EnableShutdownPrivilege();
  log_.Log(PowerRequestEvent(request == PowerRequest::kReboot, privileged));
  log_.Flush();  // the line is in the file before the PC goes down
  if (!RequestPowerAction(request)) Note(PowerEvent::kFailed);
}

void PowerScreenView::ApplyWindowForm(WindowForm form) {
  HWND window = parts_.window;
  switch (form) {
    case WindowForm::kAsCreated:
      break;
    case WindowForm::kNormal:
      SetBorderless(false);
      // Back to the normal size; the window stays on top.
      ShowWindow(window, SW_RESTORE);
      break;
    case WindowForm::kFullScreen:
      SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      // The frame goes before maximising, so that the maximised size is that of a frameless
      // window.
      SetBorderless(true);
      if (!IsZoomed(window)) ShowWindow(window, SW_MAXIMIZE);
      break;
  }
}

void PowerScreenView::SetBorderless(bool borderless) {
  HWND window = parts_.window;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  // A popup without a frame is maximised over the whole screen, not just the work area.
  const LONG_PTR wanted =
      borderless ? (style & ~kFrameStyle) | WS_POPUP : (style & ~WS_POPUP) | kFrameStyle;
  if (wanted == style) return;
  SetWindowLongPtrW(window, GWL_STYLE, wanted);
  SetWindowPos(window, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void PowerScreenView::ArrangePanel() {
  if (parts_.panel == nullptr) return;
  if (panel_fills_client_) {
    RECT client = {};
    GetClientRect(parts_.window, &client);
    RECT status = {};
    GetWindowRect(parts_.status, &status);
    MapWindowPoints(nullptr, parts_.window, reinterpret_cast<POINT*>(&status), 2);
    const Rect96 r = PowerPanelPlace(
        {0, 0, client.right, client.bottom},
        {status.left, status.top, status.right - status.left, status.bottom - status.top});
    MoveWindow(parts_.panel, r.left, r.top, r.width, r.height, TRUE);
  }
  RECT rc = {};
  GetClientRect(parts_.panel, &rc);
  const auto places = PanelLabelPlaces({0, 0, rc.right, rc.bottom}, parts_.dpi);
  for (std::size_t i = 0; i < places.size(); ++i) {
    const Rect96& p = places[i];
    MoveWindow(parts_.labels[i], p.left, p.top, p.width, p.height, TRUE);
  }
}

}  // namespace qyr
