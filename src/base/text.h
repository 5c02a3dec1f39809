#pragma once
// Byte-wise text rules shared by every part of the program. Lower-casing only ever touches the
// ASCII letters A to Z; everything else (UTF-8 and code-page-936 lead bytes included) is kept.
#include <string>
#include <string_view>

namespace qyr {

std::string AsciiLower(std::string_view text);

// Byte-wise substring test.
bool Contains(std::string_view text, std::string_view part);

// Removes leading and trailing blanks and control characters (bytes up to 0x20).
std::string_view TrimBlanks(std::string_view text);

// Number of UTF-8 code points (a stray byte counts as one).
std::size_t CharCount(std::string_view utf8);

// Length in UTF-16 units, as Win32 counts a path: a code point past U+FFFF takes two.
std::size_t Utf16Length(std::string_view utf8);

// The first `count` code points of a UTF-8 text, counted as CharCount counts them, so that a
// cut never falls inside a character.
std::string_view FirstChars(std::string_view utf8, std::size_t count);

}  // namespace qyr
