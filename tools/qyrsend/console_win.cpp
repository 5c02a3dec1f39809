#include <iostream>

#include <windows.h>

#include "console.h"

namespace qyrsend {

namespace {

void Print(std::ostream& stream, DWORD which, const std::string& utf8) {
  // A console shows UTF-16 right whatever its code page; pipes and files get UTF-8.
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    stream.flush();
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  stream << utf8 << std::flush;
}

}  // namespace

void PrintOut(const std::string& utf8) { Print(std::cout, STD_OUTPUT_HANDLE, utf8); }
void PrintErr(const std::string& utf8) { Print(std::cerr, STD_ERROR_HANDLE, utf8); }

}  // namespace qyrsend
