#include "hosts_file.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "remote/allow_list.h"

namespace qyrsend {

std::vector<std::string> SplitHosts(std::string_view text) {
  std::vector<std::string> hosts;
  std::string current;
  bool comment = false;
  auto flush = [&] {
    if (!current.empty()) hosts.push_back(current);
    current.clear();
  };
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      comment = false;
      flush();
    } else if (comment) {
      continue;
    } else if (c == '#') {
      comment = true;
      flush();
    } else if (c == ',' || c == ' ' || c == '\t' || c == ';') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return hosts;
}

std::string_view WithoutBom(std::string_view text) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  return text.starts_with(kBom) ? text.substr(kBom.size()) : text;
}

std::size_t Utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the second byte's range, narrowed against overlong forms and surrogates
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

namespace {

// Why `bytes` are not text, naming the line; empty when they are.
std::string NotText(std::string_view bytes) {
  std::size_t line = 1;
  while (!bytes.empty()) {
    const std::size_t length = bytes.front() == '\0' ? 0 : Utf8Length(bytes);
    if (length == 0) {
      return (bytes.front() == '\0' ? "a NUL byte" : "a byte that is not UTF-8") +
             std::string(" in line ") + std::to_string(line);
    }
    line += bytes.front() == '\n' ? 1 : 0;
    bytes.remove_prefix(length);
  }
  return {};
}

}  // namespace

std::optional<std::string> ReadTextFile(const std::string& utf8_path, std::size_t max_bytes,
                                        std::string& error) {
  const std::filesystem::path path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8_path.data()), utf8_path.size()));
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = utf8_path + " is not a regular file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(max_bytes + 1, '\0');
  // The bound holds even when the file grows or is swapped for another after the look above.
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in && !in.eof()) {
    error = "cannot read " + utf8_path;
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > max_bytes) {
    constexpr std::size_t kMb = 1024 * 1024;
    error = utf8_path + " is over " +
            (max_bytes % kMb == 0 ? std::to_string(max_bytes / kMb) + " MB"
                                  : std::to_string(max_bytes / 1024) + " KB");
    return std::nullopt;
  }
  if (const std::string why = NotText(bytes); !why.empty()) {
    error = utf8_path + " is not text: " + why;
    return std::nullopt;
  }
  return bytes;
}

std::optional<Target> ParseTarget(std::string_view item, std::uint16_t default_port,
                                  std::string& error) {
  Target target{std::string(item), std::string(item), default_port};
  const std::size_t colon = item.find(':');
  if (colon != std::string_view::npos) {
    if (item.find(':', colon + 1) != std::string_view::npos) {
      error = "IPv6 addresses are not supported: " + std::string(item);
      return std::nullopt;
    }
    target.host = std::string(item.substr(0, colon));
    if (!ParseNumber<std::uint16_t>(item.substr(colon + 1), 1, 65535, target.port)) {
      error = "bad port in " + std::string(item);
      return std::nullopt;
    }
  }
  if (target.host.empty()) {
    error = "empty host name in " + std::string(item);
    return std::nullopt;
  }
  return target;
}

FieldKind KindOfField(std::string_view item) {
  if (ParseMac(item)) return FieldKind::kMac;
  if (LooksLikeMac(item)) return FieldKind::kNeither;
  std::string error;
  const std::optional<Target> target = ParseTarget(item, kDefaultPort, error);
  if (!target) return FieldKind::kNeither;
  const std::string_view host = target->host;
  if (qyr::ParseIpv4(host)) return FieldKind::kHost;
  std::size_t hex_digits = 0;
  bool hex_only = true;
  for (const char c : host) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      ++hex_digits;
    } else if (c != '-' && c != '.') {
      hex_only = false;
    }
  }
  if (hex_only && hex_digits >= 10) return FieldKind::kNeither;
  // A name: letters, digits, "-", "_" and any non-ASCII character, in dot-separated labels.
  if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
    return FieldKind::kNeither;
  for (const char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '-' && c != '_' && c != '.' && u < 0x80)
      return FieldKind::kNeither;
  }
  return FieldKind::kHost;
}

std::optional<std::string> BadWakeLine(std::string_view text) {
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::vector<std::string> fields = SplitHosts(line);
    if (!fields.empty() && KindOfField(fields.back()) == FieldKind::kNeither)
      return "line " + std::to_string(number) + ": " + fields.back() +
             " is neither a host nor a MAC";
  }
  return std::nullopt;
}

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSeparator(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSeparator(text.back())) text.remove_suffix(1);
  return text;
}

// Fields split as a host list splits them; a double-quoted part keeps its blanks
// (name="Left wall"). False on a quote left open.
bool SplitFields(std::string_view line, std::vector<std::string>& fields) {
  std::string current;
  bool quoted = false;
  bool any = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && IsSeparator(c)) {
      if (any) fields.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) fields.push_back(current);
  return !quoted;
}

HallParse Refuse(int line, const std::string& text) {
  return {std::nullopt, "line " + std::to_string(line) + ": " + text};
}

}  // namespace

namespace {

HallParse ParseLines(std::string_view text, std::uint16_t default_port, bool classic) {
  text = WithoutBom(text);
  Hall hall;
  std::map<std::string, int> zone_lines;
  std::map<std::pair<std::string, std::uint16_t>, int> pc_lines;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;

    if (line.front() == '[') {
      if (line.back() != ']') return Refuse(number, "a zone heading ends with ]");
      const std::string name(Trim(line.substr(1, line.size() - 2)));
      if (name.empty()) return Refuse(number, "a zone heading needs a name");
      if (name.find_first_of("[]") != std::string::npos)
        return Refuse(number, "a zone name holds no [ or ]");
      if (const auto seen = zone_lines.find(name); seen != zone_lines.end())
        return Refuse(number,
                      "zone " + name + " is already on line " + std::to_string(seen->second));
      zone_lines.emplace(name, number);
      hall.zones.push_back({name, {}});
      continue;
    }

    std::vector<std::string> fields;
    if (!SplitFields(line, fields)) return Refuse(number, "a quote is not closed");
    std::vector<std::string> hosts;
    std::vector<Mac> macs;
    std::optional<std::string> name;
    for (const std::string& field : fields) {
      const std::size_t equals = field.find('=');
      if (equals != std::string::npos) {
        const std::string key = field.substr(0, equals);
        if (key != "name") return Refuse(number, "unknown key " + key + "= (a PC takes name=)");
        if (name) return Refuse(number, "two names");
        name = field.substr(equals + 1);
        if (name->empty()) return Refuse(number, "name= needs a name");
        continue;
      }
      switch (KindOfField(field)) {
        case FieldKind::kHost:
          hosts.push_back(field);
          break;
        case FieldKind::kMac:
          macs.push_back(*ParseMac(field));
          break;
        case FieldKind::kNeither:
          return Refuse(number, field + " is neither a host nor a MAC");
      }
    }
    if (hall.zones.empty()) hall.zones.push_back({"", {}});
    if (hosts.empty() && classic && !macs.empty() && !name) {
      for (const Mac& mac : macs) hall.macs.push_back({mac, hall.zones.size() - 1});
      continue;
    }
    if (hosts.empty()) return Refuse(number, "no host");
    if (macs.size() > 1) return Refuse(number, "two MACs");
    // A list of hosts on one line is still read as before; a MAC or a name says which PC.
    if (hosts.size() > 1 && (!macs.empty() || name))
      return Refuse(number, "one host a line when it has a MAC or a name");

    for (const std::string& item : hosts) {
      std::string error;
      std::optional<Target> target = ParseTarget(item, default_port, error);
      if (!target) return Refuse(number, error);
      const auto key = std::make_pair(target->host, target->port);
      if (const auto seen = pc_lines.find(key); seen != pc_lines.end() && !classic)
        return Refuse(number, item + " is already on line " + std::to_string(seen->second));
      pc_lines.emplace(key, number);
      HallPc pc{std::move(*target), std::nullopt, name.value_or(""), hall.zones.size() - 1, number};
      if (!macs.empty()) {
        pc.mac = macs.front();
        hall.macs.push_back({macs.front(), pc.zone});
      }
      hall.zones.back().pcs.push_back(hall.pcs.size());
      hall.pcs.push_back(std::move(pc));
    }
  }
  if (hall.pcs.empty() && !classic) return {std::nullopt, "no PC in the file"};
  return {std::move(hall), {}};
}

}  // namespace

HallParse ParseHall(std::string_view text, std::uint16_t default_port) {
  return ParseLines(text, default_port, false);
}

HallParse ParseHostsFile(std::string_view text, std::uint16_t default_port) {
  return ParseLines(text, default_port, true);
}

std::optional<std::vector<std::size_t>> ZonePcs(const Hall& hall, std::string_view zone) {
  for (const HallZone& z : hall.zones) {
    if (z.name == zone) return z.pcs;
  }
  return std::nullopt;
}

std::vector<std::size_t> AllPcs(const Hall& hall) {
  std::vector<std::size_t> pcs;
  for (const HallZone& z : hall.zones) pcs.insert(pcs.end(), z.pcs.begin(), z.pcs.end());
  return pcs;
}

std::optional<std::size_t> FindPc(const Hall& hall, std::string_view id) {
  for (std::size_t i = 0; i < hall.pcs.size(); ++i) {
    const Target& target = hall.pcs[i].target;
    if (target.label == id || target.host + ":" + std::to_string(target.port) == id) return i;
  }
  return std::nullopt;
}

}  // namespace qyrsend
