// A program for the launcher to start: it records that it ran in "<its own path>.started",
// shows a window so that it becomes ready for input, and ends by itself after three seconds.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  HANDLE f = CreateFileW((std::wstring(path) + L".started").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    const char line[] = "started\n";
    DWORD written = 0;
    WriteFile(f, line, sizeof(line) - 1, &written, nullptr);
    CloseHandle(f);
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"QyrLaunchProbe";
  RegisterClassW(&wc);
  HWND w = CreateWindowW(L"QyrLaunchProbe", L"launch probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                         nullptr, nullptr, instance, nullptr);
  ShowWindow(w, show);
  SetTimer(w, 1, 3000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) break;
    DispatchMessageW(&msg);
  }
  return 0;
}
