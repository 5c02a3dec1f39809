#include "launch/starter_win.h"

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "base/window_base_win.h"
#include "launch/schedule.h"

#include <shellapi.h>

namespace qyr {

KernelHandle StartExecutable(const std::string& path) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info = {};
  std::wstring app = Utf8ToWide(path);
  if (!CreateProcessW(app.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return {};
  }
  // The process handle tells the launcher when the program ends.
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);

  // A console program or one that never pumps messages returns at once or at the time limit.
  WaitForInputIdle(process.get(), kInputIdleTimeoutMs);
  // Its window to the front: the first visible top-level one without an owner.
  HWND window = FindProcessWindow(info.dwProcessId, [](HWND hwnd) {
    return IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr;
  });
  if (window != nullptr) SetForegroundWindow(window);
  return process;
}

bool ShellStart(HWND owner, const wchar_t* verb, const std::string& file,
                const std::string& parameters, int show, KernelHandle& process) {
  const std::wstring wide_file = Utf8ToWide(file);
  const std::wstring wide_parameters = Utf8ToWide(parameters);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner;
  info.lpVerb = verb;
  info.lpFile = wide_file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : wide_parameters.c_str();
  info.nShow = show;
  if (!ShellExecuteExW(&info)) return false;
  process.reset(info.hProcess);
  return true;
}

Launched StartProgram(HWND owner, const std::string& path) {
  Launched launched;
  if (!FitsStartPath(path)) return launched;
  if (StartsAsProcess(path)) {
    launched.process = StartExecutable(path);
    launched.reported_started = static_cast<bool>(launched.process);
    launched.how = launched.reported_started ? Launched::How::kProcess : Launched::How::kFailed;
    return launched;
  }
  // A document that cannot be opened still counts as started on the status line.
  launched.reported_started = true;
  if (!ShellStart(owner, L"open", path, "", SW_SHOWNOACTIVATE, launched.process)) return launched;
  launched.how = launched.process ? Launched::How::kProcess : Launched::How::kOpenedNoProcess;
  return launched;
}

}  // namespace qyr
