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
      launcher_(
          {.show_status = [this](std::string_view text) { ShowStatus(text); },
           .show_uptime =
               [this](std::string_view text) { SetControlText(ControlId::kUptimeLabel, text); },
           .log = [this](std::string_view event) { remote_.Log(event); }}),
      remote_(
          exe_path_, remote,
          {.reply = [this](Command command) { return ReplyTo(command); },
           .obey = [this](Command command,
                          std::string_view text) { power_view_.Obey(command, text); },
           .obey_clock = [this](
                             Command command,
                             std::string_view status) { power_view_.ObeyClock(command, status); },
           .show_status = [this](std::string_view text) { ShowStatus(text); },
           .show_port =
               [this](std::uint16_t port) {
                 SetControlText(ControlId::kRemotePortLabel, kRemoteLabel + std::to_string(port));
               }}),
      power_view_({.show_status = [this](std::string_view text) { ShowStatus(text); },
                   .log = [this](std::string_view event) { remote_.Log(event); },
                   .flush_log = [this] { remote_.FlushLog(); },
                   .before_power_action = [this] { launcher_.StopKeeping(); },
                   .bring_to_front = [this] { RestoreMainWindow(); }}) {}

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
}

std::string MainWindow::ReplyTo(Command command) const {
  if (command != Command::kStatus) return std::string(ReplyFor(command));
  return qyr::StatusReply(launcher_.UptimeMs(), launcher_.StateTexts(),
                          power_view_.LastPowerEvent());
}

void MainWindow::OnCreate() {
  PresetPlayerDisplay();
  const Settings settings = ReadSettings(settings_path_, FolderOf(exe_path_));
  launcher_.Load(settings.launch);
  LoadRows(settings.launch.slots);
  launcher_.Begin(hwnd_);
  if (!PassesNameTest(exe_path_)) ShowPlainMessage(hwnd_, kWrongNameMessage);
  if (OpensRemoteControl(exe_path_)) remote_.Open(settings.remote);
  remote_.StartClock(settings.power);
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
  if (launcher_.OnMessage(msg, wp, lp) || remote_.OnMessage(msg, wp, lp) ||
      power_view_.OnMessage(msg, wp, lp)) {
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
  // Nothing starts again while the program ends.
  remote_.SessionEnding(ending, [this] { launcher_.StopKeeping(); });
}

void MainWindow::OnDestroy() {
  // An elevated save still under way finishes on its own; nobody is left to report it.
  elevated_save_wait_.reset();
  elevated_save_.reset();
  launcher_.Stop();
  power_view_.Detach();
  remote_.Close();
  OnSessionEnding(true);
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
