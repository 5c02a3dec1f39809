// Brings the launcher's window up as a user would from the tray: restored, in front. Used by
// tools/screenshot.sh. Waits up to 20 seconds for the window; exit code 1 if it never came.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  for (int i = 0; i < 200; ++i) {
    if (HWND w = FindWindowW(L"TMainForm", nullptr)) {
      ShowWindow(w, SW_RESTORE);
      SetForegroundWindow(w);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
