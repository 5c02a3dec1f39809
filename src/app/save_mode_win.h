#pragma once
// Both ends of the elevated Save: the window's way of starting this exe elevated in save mode,
// and save mode itself, which writes what the Save writes and exits without a window.
#include <string>

#include <windows.h>

#include "app/save_mode.h"
#include "base/handles_win.h"
#include "launch/slots.h"

namespace qyr {

// What every Save writes, in this order: the slots into the settings file, then the Run value
// (registered when `autorun`, else removed). A refused settings-file write stops it there.
SaveOutcome WriteSave(const std::string& ini_path, const SlotArray& slots, bool autorun);

// Save mode: the request is checked as the window checks it and written by WriteSave into
// `ini_path`; the result is the exit code. No window, no single-instance mutex, no listener.
int RunSaveMode(const SaveArgs& args, const std::string& ini_path);

// Starts `exe` in save mode with administrator rights, which the system asks the user for. The
// process, or an empty handle when the user declined or it could not be started.
KernelHandle StartElevatedSave(HWND owner, const std::string& exe, const SaveRequest& request);

}  // namespace qyr
