#include "launch/ini_text.h"

#include <set>

#include "base/text.h"

namespace qyr {

namespace {

constexpr std::string_view kNewLineEnd = "\r\n";

struct Line {
  std::string_view text;  // without its end
  std::string_view end;   // CR LF, LF, CR, or nothing for a last line without one
};

// Lines as the profile API reads them: CR LF, LF and a lone CR each end one.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const std::size_t stop = text.find_first_of("\r\n");
    if (stop == std::string_view::npos) {
      lines.push_back({text, {}});
      break;
    }
    const std::size_t end_size = text.substr(stop, 2) == kNewLineEnd ? 2 : 1;
    lines.push_back({text.substr(0, stop), text.substr(stop, end_size)});
    text.remove_prefix(stop + end_size);
  }
  return lines;
}

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(std::string_view a, std::string_view b) { return AsciiLower(a) == AsciiLower(b); }

// The section a header line opens, or nothing for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
  line = TrimSpaces(line);
  const std::size_t close = line.rfind(']');
  if (line.empty() || line.front() != '[' || close == std::string_view::npos) return std::nullopt;
  return TrimSpaces(line.substr(1, close - 1));
}

// The key of a line inside a section; a line without "=" is a key without a value.
std::optional<std::string_view> KeyName(std::string_view line) {
  line = TrimSpaces(line);
  if (line.empty() || line.front() == ';') return std::nullopt;
  return TrimSpaces(line.substr(0, line.find('=')));
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) {
    out += line.text;
    out += line.end;
  }
  return out;
}

std::string SetIniValue(std::string_view text, std::string_view section, const IniValue& value) {
  std::vector<Line> lines = SplitLines(text);
  std::size_t header = 0;
  while (header < lines.size() &&
         !(HeaderName(lines[header].text) && SameName(*HeaderName(lines[header].text), section))) {
    ++header;
  }
  if (header == lines.size()) {
    std::string out(text);
    if (!lines.empty() && lines.back().end.empty()) out += kNewLineEnd;
    return out + "[" + std::string(section) + "]" + std::string(kNewLineEnd) + value.key + "=" +
           value.value + std::string(kNewLineEnd);
  }
  std::size_t last_filled = header;
  std::string replaced;  // owns the text of a replaced line until the join
  for (std::size_t i = header + 1; i < lines.size() && !HeaderName(lines[i].text); ++i) {
    const std::optional<std::string_view> key = KeyName(lines[i].text);
    if (!TrimSpaces(lines[i].text).empty()) last_filled = i;
    if (key && SameName(*key, value.key)) {
      replaced = std::string(*key) + "=" + value.value;
      lines[i].text = replaced;
      return Join(lines);
    }
  }
  const std::string added = value.key + "=" + value.value;
  if (lines[last_filled].end.empty()) lines[last_filled].end = kNewLineEnd;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_filled) + 1, {added, kNewLineEnd});
  return Join(lines);
}

}  // namespace

std::string SetIniValues(std::string_view text, std::string_view section,
                         const std::vector<IniValue>& values) {
  std::string out(text);
  for (const IniValue& value : values) out = SetIniValue(out, section, value);
  return out;
}

std::optional<std::string> GetIniValue(std::string_view text, std::string_view section,
                                       std::string_view key) {
  bool inside = false;
  for (const Line& line : SplitLines(text)) {
    if (const std::optional<std::string_view> name = HeaderName(line.text)) {
      // Only the first section of the name counts; a later one is never read.
      if (inside) return std::nullopt;
      inside = SameName(*name, section);
      continue;
    }
    const std::optional<std::string_view> name = inside ? KeyName(line.text) : std::nullopt;
    if (!name || !SameName(*name, key)) continue;
    const std::size_t equals = line.text.find('=');
    std::string_view value = equals == std::string_view::npos
                                 ? std::string_view()
                                 : TrimSpaces(line.text.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<IniRepeat> FindRepeat(std::string_view text, std::string_view section) {
  bool inside = false;
  bool seen = false;
  std::set<std::string> keys;
  for (const Line& line : SplitLines(text)) {
    if (const std::optional<std::string_view> name = HeaderName(line.text)) {
      inside = SameName(*name, section);
      // The profile API reads only the first of two: what the second holds would be ignored.
      if (inside && seen) return IniRepeat{std::string(section), {}};
      seen = seen || inside;
      continue;
    }
    if (!inside) continue;
    const std::optional<std::string_view> key = KeyName(line.text);
    if (key && !key->empty() && !keys.insert(AsciiLower(*key)).second) {
      return IniRepeat{std::string(section), std::string(*key)};
    }
  }
  return std::nullopt;
}

std::string RepeatText(const IniRepeat& repeat) {
  if (repeat.key.empty()) return "[" + repeat.section + "]一节重复";
  return "设置项" + repeat.key + "重复";
}

std::string RepeatLogText(const IniRepeat& repeat) {
  return (repeat.key.empty() ? "[" + repeat.section + "]" : repeat.key) + " given twice";
}

}  // namespace qyr
