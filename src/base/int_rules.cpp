#include "base/int_rules.h"

#include <limits>

namespace qyr {

namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v < base ? v : -1;
}

}  // namespace

IntParse ParseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return {0, IntError::kEmpty};

  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return {0, IntError::kSyntax};

  // Accumulate the magnitude in 64 bits; anything beyond 2^31 is out of range either way.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  bool too_big = false;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i], base);
    if (d < 0) return {0, IntError::kSyntax};
    if (!too_big) {
      magnitude = magnitude * base + d;
      if (magnitude > kLimit) too_big = true;
    }
  }
  if (too_big || magnitude > (negative ? kLimit : kLimit - 1)) return {0, IntError::kRange};
  return {static_cast<std::int32_t>(negative ? -magnitude : magnitude), IntError::kNone};
}

std::int32_t IntegerOr(std::string_view text, std::int32_t fallback) {
  const IntParse r = ParseInteger(text);
  return r.ok() ? r.value : fallback;
}

std::string InvalidIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

}  // namespace qyr
