// The main window's own controls: Save, Cancel, the four file pickers,
// the help link and the way to set up automatic start by hand.
#include "app/main_window_win.h"
// after <windows.h>, which it needs
#include <algorithm>
#include <iterator>

#include "app/app_win.h"
#include "app/save_mode_win.h"
#include "base/scope_guard.h"
#include "base/wide_win.h"
#include "winsys/autorun_win.h"

#include <shellapi.h>

namespace qyr {

namespace {

constexpr const char* kAutoRunFailedStatus = "错误:自启动设置失败,需管理权限启动本程序.";
constexpr const char* kAutoRunFailedMessage =
    "错误:自启动设置失败,需管理权限启动本程序,或自行手动加入启动项";
constexpr const char* kSavedStatus = "保存成功,正在测试运行...";
constexpr const wchar_t* kMakerPageUrl = L"https://www.qyrnor.com/?from=QyrDelay";

}  // namespace

// The window's own events: which control's notification runs which handler. Buttons report
// BN_CLICKED; the uptime figure wants a double click. The status line, kSlot1Label and the screen
// are the shutdown screen's.
void MainWindow::OnControlCommand(WORD window_id, WORD code) {
  for (std::size_t i = 0; i < kPickButtons.size(); ++i) {
    if (window_id == ControlWindowId(kPickButtons[i]) && code == BN_CLICKED) {
      OnPickFileClicked(kFileBoxes[i]);
      return;
    }
  }
  struct Binding {
    int window_id;
    WORD code;
    void (MainWindow::*handler)();
  };
  static constexpr Binding kEvents[] = {
      {ControlWindowId(ControlId::kUptimeLabel), STN_DBLCLK, &MainWindow::OnUptimeDoubleClicked},
      {ControlWindowId(ControlId::kHelpLink), STN_CLICKED, &MainWindow::OnMakerLinkClicked},
      {ControlWindowId(ControlId::kSaveButton), BN_CLICKED, &MainWindow::OnSaveClicked},
      {ControlWindowId(ControlId::kCancelButton), BN_CLICKED, &MainWindow::HideMainWindow},
      {ControlWindowId(ControlId::kStartupFolderButton), BN_CLICKED,
       &MainWindow::OnManualAutoRunClicked},
  };
  const auto* event = std::ranges::find_if(
      kEvents, [&](const Binding& b) { return b.window_id == window_id && b.code == code; });
  if (event != std::end(kEvents)) (this->*event->handler)();
}

void MainWindow::OnSaveClicked() {
  if (elevated_save_) return;  // one save at a time
  const SaveRequest typed = TypedSave();
  // A bad delay ends the Save here, in the error box, and asks for no rights.
  launcher_.TakeRows(typed.rows);
  const SaveOutcome outcome = WriteSave(settings_path_, launcher_.Slots(), typed.autorun);
  if (outcome != SaveOutcome::kSaved && StartElevatedSave(typed)) return;
  // Saved, or refused here and not elevated (the user declined): told as always.
  ShowSaveOutcome(outcome);
}

SaveRequest MainWindow::TypedSave() const {
  SaveRequest typed;
  for (std::size_t i = 0; i < typed.rows.size(); ++i) {
    typed.rows[i] = {ControlText(kFileBoxes[i]), ControlText(kDelayBoxes[i])};
  }
  typed.autorun = SendMessageW(Control(ControlId::kAutoRunCheck), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return typed;
}

bool MainWindow::StartElevatedSave(const SaveRequest& typed) {
  elevated_save_ = qyr::StartElevatedSave(hwnd_, exe_path_, typed);
  if (!elevated_save_) return false;
  elevated_save_wait_ = PostOnSignal(elevated_save_.get(), hwnd_, kWmElevatedSaveEnded, 0, 0);
  // Without a wait the end is looked for at once; the process is started and ends by itself.
  if (!elevated_save_wait_.ok()) PostMessageW(hwnd_, kWmElevatedSaveEnded, 0, 0);
  EnableWindow(Control(ControlId::kSaveButton), FALSE);
  return true;
}

void MainWindow::OnElevatedSaveEnded() {
  if (!elevated_save_) return;
  elevated_save_wait_.reset();
  WaitForSingleObject(elevated_save_.get(), INFINITE);  // ended already, unless no wait was had
  DWORD code = 0;
  const bool known = GetExitCodeProcess(elevated_save_.get(), &code) != 0;
  elevated_save_.reset();
  EnableWindow(Control(ControlId::kSaveButton), TRUE);
  ShowSaveOutcome(known ? SaveOutcomeOf(code) : SaveOutcome::kRefused);
}

void MainWindow::ShowSaveOutcome(SaveOutcome outcome) {
  // Nothing was saved: the boxes keep what was typed, the schedule goes on as it was.
  if (outcome != SaveOutcome::kSaved && outcome != SaveOutcome::kAutoRunFailed) {
    ShowErrorBox(hwnd_, UnableToWriteMessage(settings_path_));
    return;
  }
  launcher_.RestartSchedule();  // the test run: every slot starts again at its delay
  if (outcome == SaveOutcome::kAutoRunFailed) {
    // The schedule stands still while the user reads why.
    const auto pause = launcher_.PauseSchedule();
    ShowStatus(kAutoRunFailedStatus);
    ShowPlainMessage(hwnd_, kAutoRunFailedMessage);
    ShowWindow(Control(ControlId::kStartupFolderButton), SW_SHOW);
  }
  ShowStatus(kSavedStatus);
}

void MainWindow::OnUptimeDoubleClicked() { launcher_.RestartSchedule(); }

void MainWindow::OnPickFileClicked(ControlId box) {
  if (file_picker_.Pick(hwnd_)) SetControlText(box, file_picker_.FileName());
}

void MainWindow::OnMakerLinkClicked() {
  // No browser, no page: nothing to tell the user that they would not see anyway.
  ShellExecuteW(hwnd_, L"open", kMakerPageUrl, nullptr, nullptr, SW_SHOWNOACTIVATE);
}

void MainWindow::OnManualAutoRunClicked() { OpenUserStartupFolder(hwnd_); }

}  // namespace qyr
