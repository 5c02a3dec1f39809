// The window's entry in the notification area.
#include "app/app_rules.h"
#include "app/main_form_win.h"

namespace qyr {

void TMainForm::CreateTrayIcon() {
  // "延", the first character of the caption: it means delay.
  TextTrayIcon1 = std::make_unique<TTrayIcon>(hwnd_, GlyphIcon("延"));
  TextTrayIcon1->OnClick = [this] { TextTrayIcon1Click(); };
  TextTrayIcon1->AddToTray();
}

void TMainForm::TextTrayIcon1Click() {
  // A click while the start-up box is open would show a window that is still being set up.
  if (created_) RestoreMainWindow();
}

void TMainForm::RestoreMainWindow() {
  if (TextTrayIcon1) TextTrayIcon1->RestoreMainWindow();
}

}  // namespace qyr
