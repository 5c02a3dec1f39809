#include "app/app_win.h"

#include "app/app_rules.h"
#include "base/errors.h"
#include "base/wide_win.h"

namespace qyr {

std::string ApplicationTitle() { return AppTitle(ModulePathUtf8()); }

void ShowErrorBox(const std::string& message) {
  MessageBoxW(nullptr, Utf8ToWide(ErrorBoxText(message)).c_str(),
              Utf8ToWide(ApplicationTitle()).c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void ShowPlainMessage(std::string_view text) {
  // No owner: the box is centred on the screen.
  MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(ApplicationTitle()).c_str(),
              MB_OK | MB_TASKMODAL);
}

}  // namespace qyr
