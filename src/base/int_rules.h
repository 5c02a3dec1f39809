#pragma once
// The integer rule of the settings file and the delay boxes: optional leading spaces, an
// optional sign, then decimal digits or hexadecimal digits introduced by "$", "x", "X", "0x"
// or "0X", and nothing after the digits; the value must fit a signed 32-bit integer.
#include <cstdint>
#include <string>
#include <string_view>

namespace qyr {

enum class IntError { kNone, kEmpty, kSyntax, kRange };

struct IntParse {
  std::int32_t value = 0;
  IntError error = IntError::kNone;
  bool ok() const { return error == IntError::kNone; }
};

IntParse ParseInteger(std::string_view text);

// Lenient: anything that is not an integer gives the fallback.
std::int32_t IntegerOr(std::string_view text, std::int32_t fallback);

// The message of the conversion error raised for a text that is not an integer.
std::string InvalidIntegerMessage(std::string_view text);

}  // namespace qyr
