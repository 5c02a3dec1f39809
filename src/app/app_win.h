#pragma once
// The application-wide services: its title, the error box every escaped error ends in, and the
// plain message box of the program's own messages.
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>

namespace qyr {

// "Qyrdelay" for QyrDelay.exe.
std::string ApplicationTitle();

// Both boxes are owned by `owner` (the main window once it exists), so that they open above it
// even when it is topmost, and disable it while they are open. Without an owner, or while the
// owner is hidden, they are task-modal and topmost, so they still come to the front.

// Modal, stop icon, OK, captioned with the application title; "." added by the usual rule.
void ShowErrorBox(HWND owner, const std::string& message);

// Modal, no icon, OK only, centred on the screen, captioned with the application title.
void ShowPlainMessage(HWND owner, std::string_view text);

// Runs one event handler; an error escaping it is shown in the error box. False if one did.
template <typename F>
bool RunHandler(HWND owner, F&& handler) {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (const std::exception& e) {
    ShowErrorBox(owner, e.what());
    return false;
  }
}

}  // namespace qyr
