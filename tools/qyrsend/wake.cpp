#include "wake.h"

#include <charconv>
#include <thread>

#include "net.h"

namespace qyrsend {

std::optional<Mac> ParseMac(std::string_view text) {
  if (!LooksLikeMac(text) || text[2] != text[5] || text[2] != text[8] || text[2] != text[11] ||
      text[2] != text[14])
    return std::nullopt;
  Mac mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const std::string_view pair = text.substr(i * 3, 2);
    const auto [end, ec] = std::from_chars(pair.data(), pair.data() + 2, mac[i], 16);
    if (ec != std::errc() || end != pair.data() + 2) return std::nullopt;
  }
  return mac;
}

bool LooksLikeMac(std::string_view item) {
  if (item.size() != 17) return false;
  for (std::size_t i = 2; i < item.size(); i += 3) {
    if (item[i] != ':' && item[i] != '-') return false;
  }
  return true;
}

std::string MacText(const Mac& mac) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : mac) {
    if (!out.empty()) out += ':';
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string MagicPacket(const Mac& mac) {
  std::string packet(6, '\xFF');
  for (int i = 0; i < 16; ++i) packet.append(mac.begin(), mac.end());
  return packet;
}

std::optional<std::vector<Mac>> MacsOf(const std::vector<std::string>& items, std::string& error) {
  std::vector<Mac> macs;
  for (const std::string& item : items) {
    if (!LooksLikeMac(item)) continue;
    const std::optional<Mac> mac = ParseMac(item);
    if (!mac) {
      error = "malformed MAC " + item;
      return std::nullopt;
    }
    macs.push_back(*mac);
  }
  return macs;
}

std::string WakeReport(const std::vector<Mac>& macs, const std::vector<std::string>& errors) {
  std::string out;
  for (std::size_t i = 0; i < macs.size() && i < errors.size(); ++i) {
    out += MacText(macs[i]) + "  " + (errors[i].empty() ? "sent" : "error: " + errors[i]) + '\n';
  }
  return out;
}

int WakeExitCode(const std::vector<std::string>& errors) {
  for (const std::string& e : errors) {
    if (!e.empty()) return 1;
  }
  return 0;
}

std::vector<std::string> WakeAll(const std::vector<Mac>& macs, std::uint32_t broadcast,
                                 std::uint16_t port, int repeat, std::chrono::milliseconds gap) {
  std::vector<std::string> errors(macs.size());
  for (int round = 0; round < repeat; ++round) {
    if (round > 0) std::this_thread::sleep_for(gap);
    for (std::size_t i = 0; i < macs.size(); ++i) {
      const net::Step step = net::SendDatagram(broadcast, port, MagicPacket(macs[i]));
      if (step.status != net::Status::Done && errors[i].empty())
        errors[i] = step.error.empty() ? "not sent" : step.error;
    }
  }
  return errors;
}

}  // namespace qyrsend
