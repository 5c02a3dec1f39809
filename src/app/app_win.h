#pragma once
// The application-wide services: its title, the error box every escaped error ends in, and the
// plain message box of the program's own messages.
#include <windows.h>

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace qyr {

// "Qyrdelay" for QyrDelay.exe.
std::string ApplicationTitle();

// Modal, stop icon, OK, captioned with the application title; "." added by the usual rule.
void ShowErrorBox(const std::string& message);

// Modal, no icon, OK only, centred on the screen, captioned with the application title.
void ShowPlainMessage(std::string_view text);

// Runs one event handler; an error escaping it is shown in the error box. False if one did.
template <typename F>
bool RunHandler(F&& handler) {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
    return false;
  }
}

}  // namespace qyr
