#include "app/main_window_win.h"

#include "app/app_rules.h"
#include "app/app_win.h"
#include "base/wide_win.h"
#include "winsys/player_preset_win.h"

namespace qyr {

namespace {

constexpr const char* kRemoteLabel = "TCP/UDP受控中端口:";

}  // namespace

MainWindow::MainWindow(std::string exe_path, RemoteEndpoint remote)
    : exe_path_(std::move(exe_path)),
      settings_path_(SettingsPathFor(exe_path_)),
      launcher_(log_, {.show_status = [this](std::string_view text) { ShowStatus(text); },
                       .show_uptime =
                           [this](std::string_view text) {
                             SetControlText(ControlId::kUptimeLabel, text);
                           }}),
      remote_(exe_path_, remote, log_,
              {.status_reply = [this] { return StatusReplyText(); },
               .carry_out = [this](const RemoteEffects& effects) { CarryOut(effects); }}),
      power_view_(log_) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

std::string MainWindow::ControlText(ControlId id) const { return WindowTextUtf8(Control(id)); }

void MainWindow::SetControlText(ControlId id, std::string_view text) {
  SetWindowTextUtf8(Control(id), text);
}

void MainWindow::ShowStatus(std::string_view text) {
  HWND status = Control(ControlId::kStatusLine);
  EnableWindow(status, TRUE);
  // A control system that polls shows the same text again and again: no repaint for that.
  if (WindowTextUtf8(status) != text) SetWindowTextUtf8(status, text);
  remote_.StatusShown(text);
}

std::string MainWindow::StatusReplyText() const {
  return StatusReply(launcher_.UptimeMs(), launcher_.StateTexts(), power_view_.LastPowerEvent());
}

void MainWindow::CarryOut(const RemoteEffects& effects) {
  if (effects.status) ShowStatus(*effects.status);
  if (effects.port) {
    SetControlText(ControlId::kRemotePortLabel, kRemoteLabel + std::to_string(*effects.port));
  }
  if (!effects.order) return;
  const RemoteOrder& order = *effects.order;
  CarryOut(order.clock_status ? power_view_.ObeyClock(order.command, *order.clock_status)
                              : power_view_.Obey(order.command, order.text));
}

void MainWindow::CarryOut(const ScreenOutcome& outcome) {
  for (const std::string& text : outcome.status) ShowStatus(text);
  if (outcome.bring_to_front) RestoreMainWindow();
  for (const PowerRequest request : outcome.power) {
    // Nothing may start behind the request.
    launcher_.StopKeeping();
    power_view_.RequestPower(request);
  }
}

void MainWindow::OnCreate() {
  PresetPlayerDisplay();
  const Settings settings = ReadSettings(settings_path_, FolderOf(exe_path_));
  launcher_.Load(settings.launch);
  LoadRows(settings.launch.slots);
  launcher_.Begin(hwnd_);
  if (!PassesNameTest(exe_path_)) ShowPlainMessage(hwnd_, kWrongNameMessage);
  if (OpensRemoteControl(exe_path_)) CarryOut(remote_.Open(settings.remote));
  CarryOut(remote_.StartClock(settings.power));
  if (tray_) tray_->SetHint(kMainCaption);
}

void MainWindow::LoadRows(const SlotArray& slots) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!ShownInRow(slots[i])) continue;
    SetControlText(kFileBoxes[i], slots[i].Path);
    SetControlText(kDelayBoxes[i], DelayText(slots[i].Delay));
  }
}

LRESULT MainWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  OnShowingMessage(msg, wp, lp);
  // Each part takes the messages that are its own; what they leave to the window is done here.
  if (launcher_.OnMessage(msg, wp, lp) || log_.OnMessage(msg, wp, lp)) return 0;
  if (const std::optional<RemoteEffects> effects = remote_.OnMessage(msg, wp, lp)) {
    CarryOut(*effects);
    return 0;
  }
  if (const std::optional<ScreenOutcome> outcome = power_view_.OnMessage(msg, wp, lp)) {
    CarryOut(*outcome);
    return 0;
  }
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      power_view_.Attach({.window = hwnd_,
                          .panel = Control(ControlId::kPowerScreen),
                          .status = Control(ControlId::kStatusLine),
                          .labels = panel_labels_,
                          .dpi = dpi_});
      log_.Attach(hwnd_);
      remote_.Attach(hwnd_);
      CreateTrayIcon();
      RunHandler(hwnd_, [this] { OnCreate(); });
      // The schedule starts only now: the name-test box of OnCreate runs a message loop of its
      // own, and no slot may start behind it. The first tick comes a period from here.
      launcher_.StartSchedule();
      created_ = true;
      return 0;
    case WM_QUERYENDSESSION:
      OnSessionEnding(false);
      return TRUE;
    case WM_ENDSESSION:
      if (wp != FALSE) OnSessionEnding(true);
      return 0;
    case WM_COMMAND:
      if (lp != 0) OnControlCommand(LOWORD(wp), HIWORD(wp));  // controls only, not menus or keys
      return 0;
    case kWmElevatedSaveEnded:
      OnElevatedSaveEnded();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default: {
      LRESULT result = 0;
      if (HandleLookMessage(msg, wp, lp, result)) return result;
      return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }
}

void MainWindow::OnSessionEnding(bool ending) {
  // The log gets its kept lines now (and, when the session ends, the end line): the process may
  // be ended without its window being destroyed.
  remote_.SessionEnding();
  if (ending) {
    launcher_.StopKeeping();  // nothing starts again while the program ends
    if (!end_logged_) log_.Log("QyrDelay ended");
    end_logged_ = true;
  }
  log_.Flush();
}

void MainWindow::OnDestroy() {
  // An elevated save still under way finishes on its own; nobody is left to report it.
  elevated_save_wait_.reset();
  elevated_save_.reset();
  launcher_.Stop();
  power_view_.Detach();
  remote_.Close();
  OnSessionEnding(true);
  log_.Detach();
  tray_.reset();  // the entry leaves the notification area
  if (is_main_window_) PostQuitMessage(0);
}

void MainWindow::CreateTrayIcon() {
  // "延", the first character of the caption: it means delay.
  tray_ = std::make_unique<TrayIcon>(GlyphIcon("延"),
                                     TrayIcon::Hooks{.clicked = [this] { OnTrayClicked(); }});
  tray_->AddToTray();
}

void MainWindow::OnTrayClicked() {
  // A click while the start-up box is open would show a window that is still being set up.
  if (created_) RestoreMainWindow();
}

void MainWindow::RestoreMainWindow() {
  // A maximised window stays maximised; only a minimised one goes back to normal.
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

// The window carries the taskbar button, so hiding it hides both; the tray entry stays.
void MainWindow::HideMainWindow() { ShowWindow(hwnd_, SW_HIDE); }

void MainWindow::OnShowingMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SIZE && wp == SIZE_MINIMIZED) {
    // Minimised means sent to the tray.
    HideMainWindow();
    if (tray_) tray_->AddToTray();
  } else if (msg == WM_SHOWWINDOW && wp == TRUE && lp == 0) {
    SetForegroundWindow(hwnd_);
  }
}

}  // namespace qyr
