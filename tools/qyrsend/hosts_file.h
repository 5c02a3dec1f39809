#pragma once
// Hosts as the command line and a hosts file write them: items, HOST[:PORT] targets, the file's
// text checks, and the hall's zones (hall_hosts below). No sockets here.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "wake.h"

namespace qyrsend {

inline constexpr std::uint16_t kDefaultPort = 26908;

// `text` as a whole number from `low` to `high`.
template <typename Int>
bool ParseNumber(std::string_view text, Int low, Int high, Int& out) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return false;
  out = value;
  return true;
}

// Host items from a command-line list or a hosts file: separated by commas, blanks or line
// ends; "#" starts a comment that runs to the end of the line.
std::vector<std::string> SplitHosts(std::string_view text);

// A hosts file's text without the UTF-8 byte-order mark that some editors put first.
std::string_view WithoutBom(std::string_view text);

// A hosts file is a list of addresses: anything larger is no hosts file.
inline constexpr std::size_t kMaxHostsFileBytes = 1024 * 1024;

// The bytes of the file at `utf8_path`, read no further than `max_bytes`; empty with `error` set
// when it cannot be read, is no regular file (a folder, a device), is larger than that or is not
// UTF-8 text.
std::optional<std::string> ReadTextFile(const std::string& utf8_path, std::size_t max_bytes,
                                        std::string& error);

// Length of the UTF-8 sequence at the start of `text`, 0 when it is not a well-formed one.
std::size_t Utf8Length(std::string_view text);

struct Target {
  std::string label;  // as the user wrote it
  std::string host;
  std::uint16_t port = kDefaultPort;
};

// "HOST" or "HOST:PORT"; empty with `error` set when the item is unusable.
std::optional<Target> ParseTarget(std::string_view item, std::uint16_t default_port,
                                  std::string& error);

enum class FieldKind {
  kHost,     // HOST or HOST:PORT: an IPv4 address or a name
  kMac,      // a well-formed MAC
  kNeither,  // a MAC written wrong ("aa:bb:cc:dd:ee:2", "aabbccddee03"), or no host at all
};
// Hex digits alone (with ":", "-" or "." between them), ten or more, are a MAC meant, never a
// name; a dotted address that is not IPv4 is no host either.
FieldKind KindOfField(std::string_view item);

// The first line of a hosts file whose last field is neither a host nor a MAC, for --wake,
// which would otherwise skip it silently: "line N: FIELD is neither a host nor a MAC".
std::optional<std::string> BadWakeLine(std::string_view text);

// A hall's hosts file: "HOST[:PORT] [MAC] [name=NAME]  # comment" a line, grouped into zones by
// heading lines "[展厅A]". Lines before the first heading (all of them in a file without
// headings) form the zone without a name.
struct HallPc {
  Target target;  // its label, HOST or HOST:PORT as written, names the PC in the API
  std::optional<Mac> mac;
  std::string name;  // empty: none given
  std::size_t zone = 0;
  int line = 0;
};

struct HallZone {
  std::string name;  // empty: the PCs before any heading
  std::vector<std::size_t> pcs;
};

struct HallMac {
  Mac mac;
  std::size_t zone = 0;
};

struct Hall {
  std::vector<HallZone> zones;  // in the file's order
  std::vector<HallPc> pcs;      // in the file's order
  std::vector<HallMac> macs;    // every MAC of the file, the PCs' and those alone on a line
};

struct HallParse {
  std::optional<Hall> hall;
  std::string error;  // "line N: ..."
};

// The text without its byte-order mark. A bad line refuses the whole file.
HallParse ParseHall(std::string_view text, std::uint16_t default_port);

// The same reader for the classic forms (HOST CMD, --status, --wake), which took more than a
// hall does and still take it: lines of MACs alone (for --wake), a host listed twice, and a file
// without any PC.
HallParse ParseHostsFile(std::string_view text, std::uint16_t default_port);

// The PCs of the zone so named, in order; none when the hall has no such zone.
std::optional<std::vector<std::size_t>> ZonePcs(const Hall& hall, std::string_view zone);
// Every PC, zone after zone.
std::vector<std::size_t> AllPcs(const Hall& hall);
// The PC whose label is `id`, or that `id` names as HOST:PORT.
std::optional<std::size_t> FindPc(const Hall& hall, std::string_view id);

}  // namespace qyrsend
