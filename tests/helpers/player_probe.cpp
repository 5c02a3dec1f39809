// Stands in for the showroom player: when the launcher starts it, it records in
// "<its own path>.player" what it finds in the player's display settings, then behaves like
// launch_probe (a window, so that it becomes ready; gone after three seconds).
#include <windows.h>

#include <string>

namespace {

std::string Describe(const wchar_t* name) {
  DWORD type = 0, data = 0, size = sizeof(data);
  const LSTATUS rc = RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\DefaultCompany\\QyrPlayer_V3",
                                  name, RRF_RT_ANY, &type, &data, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return "absent";
  if (rc != ERROR_SUCCESS) return "error";
  return (type == REG_DWORD ? "dword:" : "other:") + std::to_string(data);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::string report =
      "fullscreen=" + Describe(L"Screenmanager Fullscreen mode_h3630240806") +
      "\nheight=" + Describe(L"Screenmanager Resolution Height_h2627697771") +
      "\nwidth=" + Describe(L"Screenmanager Resolution Width_h182942802") + "\n";
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  HANDLE f = CreateFileW((std::wstring(path) + L".player").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(f, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(f);
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"QyrPlayerProbe";
  RegisterClassW(&wc);
  HWND w = CreateWindowW(L"QyrPlayerProbe", L"player probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
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
