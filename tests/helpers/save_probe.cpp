// Stands in for the program started in save mode by a Save: it records its command line in
// "<its own path>.args" (UTF-8) and ends with the exit code written in "<its own path>.exit".
#include <cstdlib>
#include <string>

#include <windows.h>

#include "probe_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* line = GetCommandLineW();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();  // the terminating zero
  qyr::probe::ReportBesideExe(L".args", utf8);

  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  HANDLE f = CreateFileW((std::wstring(path) + L".exit").c_str(), GENERIC_READ, FILE_SHARE_READ,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  char text[16] = {};
  DWORD n = 0;
  ReadFile(f, text, sizeof(text) - 1, &n, nullptr);
  CloseHandle(f);
  return static_cast<int>(std::strtoul(text, nullptr, 10));
}
