// The window's entry in the notification area.
#include "app/app_rules.h"
#include "app/main_form_win.h"

namespace qyr {

void TMainForm::CreateTrayIcon() {
  TextTrayIcon1 = std::make_unique<TTextTrayIcon>(hwnd_);
  TextTrayIcon1->OnClick = [this] { TextTrayIcon1Click(); };
  TextTrayIcon1->AddToTray();
  // "延" in the window-text colour on an opaque button-face square.
  TextTrayIcon1->SetText("延");
}

void TMainForm::TextTrayIcon1Click() {
  // A click while the start-up box is open would show a window that is still being set up.
  if (created_) RestoreMainWindow();
}

void TMainForm::RestoreMainWindow() {
  if (TextTrayIcon1) TextTrayIcon1->RestoreMainWindow();
}

}  // namespace qyr
