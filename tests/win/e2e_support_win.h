#pragma once
// The built program as a separate process: copied into a folder, started, found, closed.
#include <string>

#include <windows.h>

#include "app/layout.h"
#include "test_support_win.h"

namespace qyr::test {

// The number of main windows of processes running this executable.
int CountMainWindows(const std::string& exe);

class RunningProgram {
 public:
  // Copies QyrDelay.exe (under `exe_name`) into `dir` and starts it.
  explicit RunningProgram(const ScratchDir& dir, const std::string& exe_name = "QyrDelay.exe");
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  const std::string& exe() const { return exe_; }
  DWORD pid() const { return pid_; }
  HANDLE process() const { return process_; }
  HWND window() const { return window_; }
  bool Running() const;

  // Waits until its main window exists.
  bool WaitForWindow(DWORD limit_ms = 20000);
  // Waits until the schedule has ticked twice: start-up, which ends before the first tick, has
  // done all it will do.
  bool WaitForTicks(DWORD limit_ms = 10000);
  HWND Control(ControlId id) const { return GetDlgItem(window_, ControlWindowId(id)); }
  std::string ControlText(ControlId id) const;
  // Closes the main window as the close box would and waits for the process to end.
  bool Close(DWORD limit_ms = 10000);
  // Exit code once ended; waits up to limit_ms.
  bool WaitForExit(DWORD limit_ms, DWORD* code = nullptr);
  // Once its countdown screen is up, cancels it with a click on the status line, as a person at
  // the PC would; true when the screen came and went again.
  bool CancelAtThePc();

 private:
  std::string exe_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND window_ = nullptr;
};

}  // namespace qyr::test
