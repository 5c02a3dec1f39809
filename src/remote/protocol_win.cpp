#include "remote/protocol_win.h"

#include <algorithm>

#include <windows.h>

#include "base/wide_win.h"
#include "remote/protocol.h"

namespace qyr {

namespace {

// ASCII reads the same in UTF-8 and in the ANSI code pages (and GBK): a command word and its
// plain text need no conversion.
bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string Utf8ToCodePage(std::string_view bytes, unsigned code_page) {
  // The units end at their first zero.
  if (code_page == kCommandCodePage && IsAscii(bytes))
    return std::string(bytes.substr(0, bytes.find('\0')));
  const std::u16string units = DecodeCommandUnits(bytes);
  const auto* wide = reinterpret_cast<const wchar_t*>(units.c_str());
  constexpr DWORD kFlags = WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR;
  // The units end at their first zero; -1 converts up to it, the terminator counted.
  const int needed = WideCharToMultiByte(code_page, kFlags, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return {};
  std::string text(static_cast<std::size_t>(needed), '\0');
  const int got =
      WideCharToMultiByte(code_page, kFlags, wide, -1, text.data(), needed, nullptr, nullptr);
  text.resize(got > 0 ? static_cast<std::size_t>(got) - 1 : 0);
  return text;
}

std::string CommandTextToUtf8(std::string_view text) {
  return IsAscii(text) ? std::string(text) : CodePageToUtf8(text, kCommandCodePage);
}

}  // namespace qyr
