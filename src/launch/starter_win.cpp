#include "launch/starter_win.h"

#include <shellapi.h>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "base/window_base_win.h"
#include "launch/schedule.h"

namespace qyr {

bool StartExecutable(const std::string& path) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info = {};
  std::wstring app = Utf8ToWide(path);
  if (!CreateProcessW(app.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  // The launcher keeps no handle of what it started.
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);

  // A console program or one that never pumps messages returns at once or at the time limit.
  WaitForInputIdle(process.get(), kInputIdleTimeoutMs);
  // Its window to the front: the first visible top-level one without an owner.
  HWND window = FindProcessWindow(info.dwProcessId, [](HWND hwnd) {
    return IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr;
  });
  if (window != nullptr) SetForegroundWindow(window);
  return true;
}

bool StartProgram(HWND owner, const std::string& path) {
  if (StartsAsProcess(path)) return StartExecutable(path);
  // A document that cannot be opened still counts as started.
  ShellExecuteW(owner, L"open", Utf8ToWide(path).c_str(), nullptr, nullptr, SW_SHOWNOACTIVATE);
  return true;
}

}  // namespace qyr
