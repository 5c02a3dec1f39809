#pragma once
// The received bytes as text in an ANSI code page, the way the command protocol reads them.
#include <string>
#include <string_view>

namespace qyr {

// Decodes the bytes by the protocol's own rules and converts the units to `code_page`, with the
// code page's default character for anything it cannot represent. Never fails.
std::string Utf8ToCodePage(std::string_view bytes, unsigned code_page);
// A message's text in the protocol's code page (kCommandCodePage) as UTF-8, as the status line
// shows it.
std::string CommandTextToUtf8(std::string_view text);

}  // namespace qyr
