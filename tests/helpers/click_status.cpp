// Clicks the status line of the launcher's shutdown screen as a user would, once the screen is
// up. Waits up to 20 seconds for it; exit code 1 if it never came.
#include <windows.h>

#include "app/layout.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  for (int i = 0; i < 200; ++i) {
    HWND form = FindWindowW(L"TMainForm", nullptr);
    HWND panel = GetDlgItem(form, qyr::ControlWindowId(qyr::ControlId::kPowerScreen));
    HWND status = GetDlgItem(form, qyr::ControlWindowId(qyr::ControlId::kStatusLine));
    if (status != nullptr && IsWindowVisible(panel) && IsWindowEnabled(status)) {
      PostMessageW(status, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
      PostMessageW(status, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
