// TMainForm's table of events, and its buttons and links: Save, Cancel, the four file pickers,
// the help link and the way to set up automatic start by hand.
#include "app/main_form_win.h"
// after <windows.h>, which it needs
#include <shellapi.h>

#include <algorithm>
#include <iterator>

#include "app/app_win.h"
#include "app/save_mode_win.h"
#include "base/errors.h"
#include "base/scope_guard.h"
#include "base/wide_win.h"
#include "winsys/autorun_win.h"

namespace qyr {

namespace {

constexpr const char* kAutoRunFailedStatus = "错误:自启动设置失败,需管理权限启动本程序.";
constexpr const char* kAutoRunFailedMessage =
    "错误:自启动设置失败,需管理权限启动本程序,或自行手动加入启动项";
constexpr const char* kSavedStatus = "保存成功,正在测试运行...";
constexpr const wchar_t* kMakerPageUrl = L"https://www.qyrnor.com/?from=QyrDelay";

}  // namespace

// The window's events: which control's notification runs which handler. Labels report
// STN_CLICKED and buttons BN_CLICKED; the uptime figure alone wants a double click.
void TMainForm::OnCommand(WORD window_id, WORD code) {
  struct Binding {
    int window_id;
    WORD code;
    void (TMainForm::*handler)();
  };
  static constexpr Binding kEvents[] = {
      {ControlWindowId(ControlId::LabelUptime), STN_DBLCLK, &TMainForm::LabelUptimeDblClick},
      {ControlWindowId(ControlId::LabelStatus), STN_CLICKED, &TMainForm::LabelStatusClick},
      {ControlWindowId(ControlId::Label1), STN_CLICKED, &TMainForm::Label1Click},
      {ControlWindowId(ControlId::Label13), STN_CLICKED, &TMainForm::Label13Click},
      {ControlWindowId(ControlId::BitBtn1), BN_CLICKED, &TMainForm::BitBtn1Click},
      {ControlWindowId(ControlId::BitBtn2), BN_CLICKED, &TMainForm::BitBtn2Click},
      {ControlWindowId(ControlId::BitBtn3), BN_CLICKED, &TMainForm::BitBtn3Click},
      {ControlWindowId(ControlId::BitBtn4), BN_CLICKED, &TMainForm::BitBtn4Click},
      {ControlWindowId(ControlId::BitBtn5), BN_CLICKED, &TMainForm::BitBtn5Click},
      {ControlWindowId(ControlId::BitBtn6), BN_CLICKED, &TMainForm::BitBtn6Click},
      {ControlWindowId(ControlId::ButtonUserSetAutoRUN), BN_CLICKED,
       &TMainForm::ButtonUserSetAutoRUNClick},
      // The shutdown screen's two labels, passed on by their panel.
      {PanelLabelWindowId(PanelLabelId::Label15), STN_CLICKED, &TMainForm::Label1TipsClick},
      {PanelLabelWindowId(PanelLabelId::Label1Tips), STN_CLICKED, &TMainForm::Label1TipsClick},
  };
  const auto* event = std::ranges::find_if(
      kEvents, [&](const Binding& b) { return b.window_id == window_id && b.code == code; });
  if (event != std::end(kEvents)) (this->*event->handler)();
}

void TMainForm::BitBtn1Click() {
  if (elevated_save_) return;  // one save at a time
  const SaveRequest typed = TypedSave();
  // A bad delay ends the Save here, in the error box, and asks for no rights.
  if (auto error = TakeRows(slots_, typed.rows)) throw ConvertError(*error);
  const SaveOutcome outcome = WriteSave(SettingsPath(), slots_, typed.autorun);
  if (outcome != SaveOutcome::kSaved && StartElevatedSave(typed)) return;
  // Saved, or refused here and not elevated (the user declined): told as always.
  ShowSaveOutcome(outcome);
}

bool TMainForm::StartElevatedSave(const SaveRequest& typed) {
  elevated_save_ = qyr::StartElevatedSave(hwnd_, exe_path_, typed);
  if (!elevated_save_) return false;
  elevated_save_wait_ = PostOnSignal(elevated_save_.get(), hwnd_, kWmElevatedSaveEnded, 0, 0);
  // Without a wait the end is looked for at once; the process is started and ends by itself.
  if (!elevated_save_wait_.ok()) PostMessageW(hwnd_, kWmElevatedSaveEnded, 0, 0);
  EnableWindow(Control(ControlId::BitBtn1), FALSE);
  return true;
}

void TMainForm::ElevatedSaveEnded() {
  if (!elevated_save_) return;
  elevated_save_wait_.reset();
  WaitForSingleObject(elevated_save_.get(), INFINITE);  // ended already, unless no wait was had
  DWORD code = 0;
  const bool known = GetExitCodeProcess(elevated_save_.get(), &code) != 0;
  elevated_save_.reset();
  EnableWindow(Control(ControlId::BitBtn1), TRUE);
  ShowSaveOutcome(known ? SaveOutcomeOf(code) : SaveOutcome::kRefused);
}

void TMainForm::ShowSaveOutcome(SaveOutcome outcome) {
  // Nothing was saved: the boxes keep what was typed, the schedule goes on as it was.
  if (outcome != SaveOutcome::kSaved && outcome != SaveOutcome::kAutoRunFailed) {
    throw IniFileError(UnableToWriteMessage(SettingsPath()));
  }
  ResetLaunches();  // the test run: every slot starts again at its delay
  if (outcome == SaveOutcome::kAutoRunFailed) {
    // The schedule stands still while the user reads why.
    const ScopedPause pause(TimerTask);
    ShowStatus(kAutoRunFailedStatus);
    ShowPlainMessage(hwnd_, kAutoRunFailedMessage);
    ShowWindow(Control(ControlId::ButtonUserSetAutoRUN), SW_SHOW);
  }
  ShowStatus(kSavedStatus);
}

void TMainForm::BitBtn2Click() { HideMainWindow(); }

void TMainForm::HideMainWindow() {
  if (TextTrayIcon1) TextTrayIcon1->HideMainWindow();
}

void TMainForm::PickFile(ControlId box) {
  if (OpenDialog1.Execute(hwnd_)) SetControlText(box, OpenDialog1.FileName());
}

void TMainForm::Label13Click() {
  // No browser, no page: nothing to tell the user that they would not see anyway.
  ShellExecuteW(hwnd_, L"open", kMakerPageUrl, nullptr, nullptr, SW_SHOWNOACTIVATE);
}

void TMainForm::ButtonUserSetAutoRUNClick() { OpenUserStartupFolder(hwnd_); }

}  // namespace qyr
