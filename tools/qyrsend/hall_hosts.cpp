#include "hall_hosts.h"

#include <map>

namespace qyrsend {

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

HallParse ParseHall(std::string_view text, std::uint16_t default_port) {
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
    if (hosts.empty()) return Refuse(number, "no host");
    if (macs.size() > 1) return Refuse(number, "two MACs");
    // A list of hosts on one line is still read as before; a MAC or a name says which PC.
    if (hosts.size() > 1 && (!macs.empty() || name))
      return Refuse(number, "one host a line when it has a MAC or a name");

    if (hall.zones.empty()) hall.zones.push_back({"", {}});
    for (const std::string& item : hosts) {
      std::string error;
      std::optional<Target> target = ParseTarget(item, default_port, error);
      if (!target) return Refuse(number, error);
      const auto key = std::make_pair(target->host, target->port);
      if (const auto seen = pc_lines.find(key); seen != pc_lines.end())
        return Refuse(number, item + " is already on line " + std::to_string(seen->second));
      pc_lines.emplace(key, number);
      HallPc pc{std::move(*target), std::nullopt, name.value_or(""), hall.zones.size() - 1, number};
      if (!macs.empty()) pc.mac = macs.front();
      hall.zones.back().pcs.push_back(hall.pcs.size());
      hall.pcs.push_back(std::move(pc));
    }
  }
  if (hall.pcs.empty()) return {std::nullopt, "no PC in the file"};
  return {std::move(hall), {}};
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
    if (hall.pcs[i].target.label == id) return i;
  }
  return std::nullopt;
}

}  // namespace qyrsend
