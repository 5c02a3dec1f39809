// TMainForm's buttons and links: Save, Cancel, the four file pickers, the help link and the
// way to set up automatic start by hand.
#include "app/main_form_win.h"
// after <windows.h>, which it needs
#include <shellapi.h>

#include "app/app_win.h"
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

void TMainForm::RunEvent(Event event) {
  switch (event) {
    case Event::kNone:
      break;
    case Event::BitBtn1Click:
      BitBtn1Click();
      break;
    case Event::BitBtn2Click:
      BitBtn2Click();
      break;
    case Event::BitBtn3Click:
      BitBtn3Click();
      break;
    case Event::BitBtn4Click:
      BitBtn4Click();
      break;
    case Event::BitBtn5Click:
      BitBtn5Click();
      break;
    case Event::BitBtn6Click:
      BitBtn6Click();
      break;
    case Event::Label13Click:
      Label13Click();
      break;
    case Event::LabelUptimeDblClick:
      LabelUptimeDblClick();
      break;
    case Event::ButtonUserSetAutoRUNClick:
      ButtonUserSetAutoRUNClick();
      break;
    case Event::LabelStatusClick:
      LabelStatusClick();
      break;
    case Event::Label1Click:
      Label1Click();
      break;
    case Event::Label1TipsClick:
      Label1TipsClick();
      break;
  }
}

void TMainForm::BitBtn1Click() {
  SaveSettings();   // a bad delay or an unwritable file ends the Save here, in the error box
  schedule_.Reset();  // the test run: every slot starts again at its delay
  const bool checked =
      SendMessageW(Control(ControlId::CheckBoxAutoRun), BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (!SetAutoRun(kAutoRunValueName, checked)) {
    // The schedule stands still while the user reads why.
    TimerTask.SetEnabled(false);
    ShowStatus(kAutoRunFailedStatus);
    ShowPlainMessage(hwnd_, kAutoRunFailedMessage);
    ShowWindow(Control(ControlId::ButtonUserSetAutoRUN), SW_SHOW);
    TimerTask.SetEnabled(true);
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
