// The delay boxes and the settings file hand any text to the integer rule: it must never crash,
// and it must agree with a second reading of the same rule built on std::from_chars.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/int_rules.h"

namespace {

qyr::IntParse Reference(std::string_view t) {
  using qyr::IntError;
  const std::size_t first = t.find_first_not_of(' ');
  if (first == std::string_view::npos) return {0, IntError::kEmpty};
  t.remove_prefix(first);
  const bool negative = t.front() == '-';
  if (t.front() == '-' || t.front() == '+') t.remove_prefix(1);
  int base = 10;
  if (t.starts_with("0x") || t.starts_with("0X")) {
    base = 16;
    t.remove_prefix(2);
  } else if (!t.empty() && (t.front() == '$' || t.front() == 'x' || t.front() == 'X')) {
    base = 16;
    t.remove_prefix(1);
  }
  // from_chars would take a sign of its own; the rule allows only one, before the prefix.
  if (t.empty() || t.front() == '-' || t.front() == '+') return {0, IntError::kSyntax};
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
  if (end != t.data() + t.size() && ec != std::errc::result_out_of_range)
    return {0, IntError::kSyntax};
  if (ec == std::errc::result_out_of_range) {
    // Too big for 64 bits; still a syntax error if a non-digit follows the digits.
    for (const char c : t) {
      const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!(c >= '0' && c <= '9') && !(base == 16 && hex)) return {0, IntError::kSyntax};
    }
    return {0, IntError::kRange};
  }
  const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  if (magnitude > limit) return {0, IntError::kRange};
  const auto value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  return {static_cast<std::int32_t>(value), IntError::kNone};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qyr::IntParse got = qyr::ParseInteger(text);
  const qyr::IntParse want = Reference(text);
  if (got.error != want.error || got.value != want.value) __builtin_trap();
  if (qyr::IntegerOr(text, 7) != (got.ok() ? got.value : 7)) __builtin_trap();
  if (got.ok() && qyr::ParseInteger(std::to_string(got.value)).value != got.value) __builtin_trap();
  if (qyr::InvalidIntegerMessage(text).find(text) == std::string::npos) __builtin_trap();
  return 0;
}
