#pragma once
// What the stand-in programs have in common: a report beside their own exe, and a window of
// their own so that the launcher sees them become ready; they end by themselves after three
// seconds.
#include <string>
#include <string_view>

#include <windows.h>

namespace qyr::probe {

// Writes `report` into "<this exe's path><suffix>".
inline void ReportBesideExe(const wchar_t* suffix, std::string_view report) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  HANDLE f = CreateFileW((std::wstring(path) + suffix).c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(f);
}

// Shows a window named `title` and returns after three seconds.
inline int ShowWindowForThreeSeconds(HINSTANCE instance, const wchar_t* title, int show) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"QyrProbe";
  RegisterClassW(&wc);
  HWND w = CreateWindowW(L"QyrProbe", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                         instance, nullptr);
  ShowWindow(w, show);
  SetTimer(w, 1, 3000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) break;
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace qyr::probe
