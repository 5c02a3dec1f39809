#include "remote/protocol_win.h"

#include <windows.h>

#include "remote/protocol.h"

namespace qyr {

std::string Utf8ToCodePage(std::string_view bytes, unsigned code_page) {
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

}  // namespace qyr
