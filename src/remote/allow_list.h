#pragma once
// Who may send commands: the optional list of IPv4 addresses and CIDR ranges of the settings
// file ("192.168.1.10, 192.168.1.0/24"). No list allows everyone; a list that does not parse
// allows no one, so a typing error can never open the PC to the whole network.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyr {

// An IPv4 address in host byte order (192.168.1.10 is 0xC0A8010A).
using Ipv4 = std::uint32_t;

// Dotted quad, four decimal parts of 0 to 255 without signs, blanks or leading zeros (which
// other readers take as octal).
std::optional<Ipv4> ParseIpv4(std::string_view text);
std::string FormatIpv4(Ipv4 address);

// A port number in decimal, 0 to 65535, without sign or blanks.
std::optional<std::uint16_t> ParsePort(std::string_view text);

// Where a message came from: the connection's peer, or the datagram's sender.
struct Source {
  bool tcp = true;
  Ipv4 address = 0;
  std::uint16_t port = 0;
  bool known = true;  // false: a datagram whose sender the system did not tell
  // The TCP connection within its listener, numbered from 1 and never reused; 0 for datagrams.
  std::uint64_t connection = 0;
};

struct Ipv4Range {
  Ipv4 network = 0;  // host bits cleared
  int prefix = 32;   // 0 to 32
  bool operator==(const Ipv4Range&) const = default;
};

enum class AllowListError { kNone, kEmptyEntry, kBadAddress, kBadPrefix };

struct AllowList {
  std::vector<Ipv4Range> ranges;  // empty with no error: everyone is allowed
  AllowListError error = AllowListError::kNone;
  std::string bad_entry;  // the first entry that did not parse, as written (blanks trimmed)
  bool ok() const { return error == AllowListError::kNone; }
};

// Comma-separated entries, blanks allowed around each. A blank text is no list. An empty entry
// (",,", a trailing comma) is an error like any other bad entry.
AllowList ParseAllowList(std::string_view text);

// Whether a source may be served: always with no list, never with a list that failed to parse.
bool Allows(const AllowList& list, Ipv4 source);

// Whether a message from `source` may be served. A sender that is not known is served only when
// no list is set: a list never lets through what it cannot check.
bool AllowsSource(const AllowList& list, const Source& source);

// The status line when the list is invalid and remote control stays off; the reason follows
// the prefix.
inline constexpr const char* kRemoteOffPrefix = "远程控制已关闭:";
std::string AllowListOffText(const AllowList& list);
// The same for any [REMOTE] key whose entry keeps remote control off.
std::string RemoteOffText(std::string_view key, std::string_view entry);

}  // namespace qyr
