#include "remote/allow_list.h"

#include "base/text.h"

namespace qyr {

namespace {

// A decimal number without sign or leading zero, at most max_digits long.
std::optional<unsigned> ParseDecimal(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

std::uint32_t MaskOf(int prefix) { return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix); }

// One entry, blanks trimmed: "a.b.c.d" or "a.b.c.d/n".
AllowListError ParseEntry(std::string_view entry, Ipv4Range& range) {
  if (entry.empty()) return AllowListError::kEmptyEntry;
  const std::size_t slash = entry.find('/');
  const std::optional<Ipv4> address = ParseIpv4(entry.substr(0, slash));
  if (!address) return AllowListError::kBadAddress;
  range.prefix = 32;
  if (slash != std::string_view::npos) {
    const std::optional<unsigned> prefix = ParseDecimal(entry.substr(slash + 1), 2);
    if (!prefix || *prefix > 32) return AllowListError::kBadPrefix;
    range.prefix = static_cast<int>(*prefix);
  }
  // 192.168.1.7/24 means the network it lies in.
  range.network = *address & MaskOf(range.prefix);
  return AllowListError::kNone;
}

}  // namespace

std::optional<Ipv4> ParseIpv4(std::string_view text) {
  Ipv4 address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::optional<unsigned> value = ParseDecimal(text.substr(0, dot), 3);
    if (!value || *value > 255) return std::nullopt;
    address = address << 8 | *value;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return address;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  const std::optional<unsigned> value = ParseDecimal(text, 5);
  if (!value || *value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

std::string FormatIpv4(Ipv4 address) {
  return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
         std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

AllowList ParseAllowList(std::string_view text) {
  AllowList list;
  if (TrimBlanks(text).empty()) return list;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = TrimBlanks(text.substr(0, comma));
    Ipv4Range range;
    list.error = ParseEntry(entry, range);
    if (!list.ok()) {
      list.bad_entry = std::string(entry);
      list.ranges.clear();
      return list;
    }
    list.ranges.push_back(range);
    if (comma == std::string_view::npos) return list;
    text.remove_prefix(comma + 1);
  }
}

bool Allows(const AllowList& list, Ipv4 source) {
  if (!list.ok()) return false;
  if (list.ranges.empty()) return true;
  for (const Ipv4Range& range : list.ranges) {
    if ((source & MaskOf(range.prefix)) == range.network) return true;
  }
  return false;
}

bool AllowsSource(const AllowList& list, const Source& source) {
  if (source.known) return Allows(list, source.address);
  return list.ok() && list.ranges.empty();
}

std::string AllowListOffText(const AllowList& list) {
  return RemoteOffText("AllowFrom", list.bad_entry);
}

std::string RemoteOffText(std::string_view key, std::string_view entry) {
  return std::string(kRemoteOffPrefix) + "设置项" + std::string(key) + "无效 \"" +
         std::string(entry) + "\"";
}

}  // namespace qyr
