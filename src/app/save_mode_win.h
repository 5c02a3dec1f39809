#pragma once
// Both ends of the elevated Save: the window's way of starting this exe elevated in save mode,
// and save mode itself, which writes what the Save writes and exits without a window.
#include <optional>
#include <string>

#include <windows.h>

#include "app/save_mode.h"
#include "base/handles_win.h"
#include "launch/slots.h"

namespace qyr {

// What every Save writes, in this order: the slots into the settings file, then the Run value
// (registered when `autorun`, else removed). A refused settings-file write stops it there.
SaveOutcome WriteSave(const std::string& ini_path, const SlotArray& slots, bool autorun);

// Save mode, when `command_line` asks for it: the request is checked as the window checks it
// and written by WriteSave next to this exe; the result is the exit code. No window, no
// single-instance mutex, no listener. Nothing when the program is to start as usual.
std::optional<int> RunSaveMode(const wchar_t* command_line);

// Starts `exe` in save mode with administrator rights, which the system asks the user for. The
// process, or an empty handle when the user declined or it could not be started.
KernelHandle StartElevatedSave(HWND owner, const std::string& exe, const SaveRequest& request);

}  // namespace qyr
