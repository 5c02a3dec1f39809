#include "remote/command_log.h"

#include <cstdio>

namespace qyr {

std::string SourceText(const Source& source) {
  const std::string proto = source.tcp ? "TCP " : "UDP ";
  if (!source.known) return proto + "unknown sender";
  return proto + FormatIpv4(source.address) + ':' + std::to_string(source.port);
}

std::string EscapeForLog(std::string_view bytes, std::size_t max_bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : bytes.substr(0, max_bytes)) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7E && c != '"' && c != '\\') {
      out += c;
    } else {
      out += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    }
  }
  out += '"';
  if (bytes.size() > max_bytes) out += "...";
  return out;
}

std::string LogLine(const LocalTime& t, std::string_view event) {
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return stamp + std::string(event) + "\r\n";
}

std::string CommandEvent(const Source& source, std::string_view message, Command command) {
  const std::string what = command == Command::kUnknown ? "unknown " + EscapeForLog(message)
                                                        : std::string(CommandWord(command));
  return SourceText(source) + ' ' + what + " -> " +
         std::string(source.tcp ? ReplyFor(command) : "none");
}

std::string RefusedEvent(const Source& source) {
  return SourceText(source) + ' ' + std::string(kRefusedNotAllowed);
}

std::string HttpRefusedEvent(const Source& source, std::string_view message) {
  return SourceText(source) + " refused: HTTP request " + EscapeForLog(message);
}

std::string PowerRequestEvent(bool reboot, bool privilege_ok) {
  return std::string(reboot ? "restart" : "power-off") + " requested (privilege steps " +
         (privilege_ok ? "ok" : "failed") + ")";
}

bool NeedsRollover(std::uint64_t file_bytes, std::size_t line_bytes) {
  return file_bytes > 0 && file_bytes + line_bytes > kLogLimitBytes;
}

std::size_t NewestHalfStart(std::string_view content) {
  const std::size_t middle = content.size() / 2;
  if (middle == 0 || content[middle - 1] == '\n') return middle;
  const std::size_t end = content.find('\n', middle);
  return end == std::string_view::npos ? content.size() : end + 1;
}

std::string RefusalCounter::Refuse(const Source& source, std::uint64_t now_ms) {
  // Per address and protocol: a host refused over TCP and over UDP gets a line for each.
  std::uint64_t key = (source.known ? source.address : kUnknownKey) | (source.tcp ? kTcpBit : 0);
  if (!entries_.contains(key) && entries_.size() >= kRefusalSourcesTracked) {
    // Addresses whose minute is over and that have nothing uncounted are forgotten first.
    std::erase_if(entries_, [now_ms](const auto& item) {
      return item.second.counted == 0 && now_ms - item.second.line_ms >= kRefusalLineIntervalMs;
    });
    if (entries_.size() >= kRefusalSourcesTracked) key = kOthersKey;
  }
  const auto [it, first] = entries_.try_emplace(key, Entry{source, now_ms, 0});
  Entry& entry = it->second;
  if (first) {
    if (key == kOthersKey) entry.counted = 1;
    return key == kOthersKey ? std::string() : SourceText(source) + ' ' + what_;
  }
  entry.last = source;
  if (now_ms - entry.line_ms < kRefusalLineIntervalMs) {
    ++entry.counted;
    return {};
  }
  ++entry.counted;
  std::string event = Event(key, entry);
  entry.line_ms = now_ms;
  entry.counted = 0;
  return event;
}

std::vector<std::string> RefusalCounter::Due(std::uint64_t now_ms, bool all) {
  std::vector<std::string> events;
  for (auto& [key, entry] : entries_) {
    if (entry.counted == 0) continue;
    if (!all && now_ms - entry.line_ms < kRefusalLineIntervalMs) continue;
    events.push_back(Event(key, entry));
    entry.line_ms = now_ms;
    entry.counted = 0;
  }
  return events;
}

bool RefusalCounter::HasCounted() const {
  for (const auto& item : entries_) {
    if (item.second.counted != 0) return true;
  }
  return false;
}

// "TCP 10.0.0.9:4000 refused: not in AllowFrom (1234 since the last line)": the source of the
// last refusal counted; those beyond the tracked addresses are "other sources".
std::string RefusalCounter::Event(std::uint64_t key, const Entry& entry) const {
  const std::string who = key == kOthersKey ? "other sources" : SourceText(entry.last);
  return who + ' ' + what_ + " (" + std::to_string(entry.counted) + " since the last line)";
}

}  // namespace qyr
