#pragma once
// UTF-8 inside the program, UTF-16 at the Win32 call. Both keep GetLastError as it was.
#include <string>
#include <string_view>

#include <windows.h>

namespace qyr {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// Bytes in an ANSI code page (936 for the command protocol) to UTF-8, for showing them.
std::string CodePageToUtf8(std::string_view bytes, unsigned code_page);

// Text of a window (caption of a control) as UTF-8.
std::string WindowTextUtf8(HWND hwnd);
void SetWindowTextUtf8(HWND hwnd, std::string_view text);

// Full path of the running executable as the system reports it.
std::string ModulePathUtf8();

}  // namespace qyr
