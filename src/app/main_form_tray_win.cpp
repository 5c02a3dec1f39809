// The window's entry in the notification area.
#include "app/app_rules.h"
#include "app/main_form_win.h"

namespace qyr {

void TMainForm::CreateTrayIcon() {
  TextTrayIcon1 = std::make_unique<TTextTrayIcon>(hwnd_);
  TextTrayIcon1->OnClick = [this] { TextTrayIcon1Click(); };
  TextTrayIcon1->SetIconVisible(true);
  // "延" in the window-text colour on an opaque button-face square.
  TextTrayIcon1->SetText("延");
}

void TMainForm::TextTrayIcon1Click() { RestoreMainWindow(); }

void TMainForm::RestoreMainWindow() {
  if (TextTrayIcon1) TextTrayIcon1->RestoreMainWindow();
}

}  // namespace qyr
