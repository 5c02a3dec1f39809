#include "launch/starter_win.h"

#include <shellapi.h>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "launch/schedule.h"

namespace qyr {

namespace {

struct WindowSearch {
  DWORD process_id;
  HWND found;
};

// The started program's window: its first visible top-level window without an owner.
BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<WindowSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->process_id && IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

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
  WindowSearch search{info.dwProcessId, nullptr};
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found != nullptr) SetForegroundWindow(search.found);
  return true;
}

bool StartProgram(HWND owner, const std::string& path) {
  if (StartsAsProcess(path)) return StartExecutable(path);
  // A document that cannot be opened still counts as started.
  ShellExecuteW(owner, L"open", Utf8ToWide(path).c_str(), nullptr, nullptr, SW_SHOWNOACTIVATE);
  return true;
}

}  // namespace qyr
