#pragma once
// Starts one slot's target: executables as processes, documents through the shell.
#include <string>

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

// How long the launcher waits at most for a started program to become ready for input. The
// wait blocks everything else (window, tray, listeners), so a hung program must not hold the
// remote power control for longer than this.
inline constexpr DWORD kInputIdleTimeoutMs = 10000;

// What became of a start.
struct Launched {
  enum class How {
    kProcess,          // a process runs, and `process` is its handle
    kOpenedNoProcess,  // the shell opened it and gave no process back
    kFailed,           // nothing was started (the shell refused, or no process could be made)
  };
  How how = How::kFailed;
  KernelHandle process;
  // What the status line says: a document counts as started whatever the shell says.
  bool reported_started = false;
};

// Creates the process with the path as application name and no command line, waits until it
// is ready for input, brings its window forward. The process, or an empty handle.
KernelHandle StartExecutable(const std::string& path);

// Hands a file to the shell with a verb ("open", "runas"), showing no box of the system's on
// failure. False if the shell refused (or the user declined a prompt); otherwise `process` is the
// process started, or empty when the shell gave none back.
bool ShellStart(HWND owner, const wchar_t* verb, const std::string& file,
                const std::string& parameters, int show, KernelHandle& process);

// ".exe" anywhere in the path: StartExecutable; otherwise opened through the shell. A path
// longer than the system starts fails without either.
Launched StartProgram(HWND owner, const std::string& path);

}  // namespace qyr
