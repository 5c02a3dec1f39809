#pragma once
// Wake-on-LAN: MACs as a hosts file and the command line write them, the magic packet, and its
// sending and report.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyrsend {

inline constexpr std::uint16_t kDefaultWakePort = 9;
inline constexpr int kDefaultWakeRepeat = 3;
inline constexpr int kMaxWakeRepeat = 100;

using Mac = std::array<std::uint8_t, 6>;

// "aa:bb:cc:dd:ee:ff" or "aa-bb-cc-dd-ee-ff", either letter case, one separator throughout.
std::optional<Mac> ParseMac(std::string_view text);
// The shape of a MAC (17 characters, separators at every third): such an item of a hosts file
// is a MAC, never a host.
bool LooksLikeMac(std::string_view item);
std::string MacText(const Mac& mac);  // "aa:bb:cc:dd:ee:ff"

// Six bytes 0xFF, then the MAC sixteen times: 102 bytes.
std::string MagicPacket(const Mac& mac);

// The MACs of host-list items (MAC-shaped items only; host items are skipped). Empty with
// `error` set when a MAC-shaped item is not a MAC.
std::optional<std::vector<Mac>> MacsOf(const std::vector<std::string>& items, std::string& error);

// One line per MAC: "sent" or "error: <reason>" (empty reason: sent).
std::string WakeReport(const std::vector<Mac>& macs, const std::vector<std::string>& errors);
// 0 when every packet went out, 1 otherwise.
int WakeExitCode(const std::vector<std::string>& errors);

// Sends each MAC's magic packet `repeat` times to `broadcast`:`port`, a round of all of them
// every `gap`, since a sleeping network adapter may miss one. One entry per MAC: empty when
// every packet went out, else the first reason one did not.
std::vector<std::string> WakeAll(const std::vector<Mac>& macs, std::uint32_t broadcast,
                                 std::uint16_t port, int repeat, std::chrono::milliseconds gap);

}  // namespace qyrsend
