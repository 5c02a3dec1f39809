#include "base/wide_win.h"

#include <vector>

namespace qyr {

namespace {

class KeepLastError {
 public:
  KeepLastError() : error_(GetLastError()) {}
  ~KeepLastError() { SetLastError(error_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  DWORD error_;
};

std::wstring ToWide(std::string_view bytes, unsigned code_page) {
  if (bytes.empty()) return {};
  const int n =
      MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  }
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  KeepLastError keep;
  return ToWide(utf8, CP_UTF8);
}

std::string WideToUtf8(std::wstring_view wide) {
  KeepLastError keep;
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

std::string CodePageToUtf8(std::string_view bytes, unsigned code_page) {
  KeepLastError keep;
  return WideToUtf8(ToWide(bytes, code_page));
}

std::string WindowTextUtf8(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return WideToUtf8(text);
}

void SetWindowTextUtf8(HWND hwnd, std::string_view text) {
  SetWindowTextW(hwnd, Utf8ToWide(text).c_str());
}

std::string ModulePathUtf8() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n < buffer.size()) return WideToUtf8(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace qyr
