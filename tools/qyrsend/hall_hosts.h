#pragma once
// A hall's hosts file: "HOST[:PORT] [MAC] [name=NAME]  # comment" a line, grouped into zones by
// heading lines "[展厅A]". Lines before the first heading (all of them in a file without
// headings) form the zone without a name. No sockets here.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace qyrsend {

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

struct Hall {
  std::vector<HallZone> zones;  // in the file's order
  std::vector<HallPc> pcs;      // in the file's order
};

struct HallParse {
  std::optional<Hall> hall;
  std::string error;  // "line N: ..."
};

// The text without its byte-order mark. A bad line refuses the whole file.
HallParse ParseHall(std::string_view text, std::uint16_t default_port);

// The PCs of the zone so named, in order; none when the hall has no such zone.
std::optional<std::vector<std::size_t>> ZonePcs(const Hall& hall, std::string_view zone);
// Every PC, zone after zone.
std::vector<std::size_t> AllPcs(const Hall& hall);
// The PC whose label is `id`.
std::optional<std::size_t> FindPc(const Hall& hall, std::string_view id);

}  // namespace qyrsend
