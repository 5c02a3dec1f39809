#pragma once
// Starts one slot's target: executables as processes, documents through the shell.
#include <windows.h>

#include <string>

namespace qyr {

// How long the launcher waits at most for a started program to become ready for input. The
// wait blocks everything else (window, tray, listeners), so a hung program must not hold the
// remote power control for longer than this.
inline constexpr DWORD kInputIdleTimeoutMs = 10000;

// Creates the process with the path as application name and no command line, waits until it
// is ready for input, brings its window forward. True when the process was created.
bool StartExecutable(const std::string& path);

// ".exe" anywhere in the path: StartExecutable; otherwise opened through the shell and counted
// as started whatever the shell says.
bool StartProgram(HWND owner, const std::string& path);

}  // namespace qyr
