#include "remote/command_log.h"

#include <cstdio>

namespace qyr {

std::string SourceText(const Source& source) {
  return std::string(source.tcp ? "TCP " : "UDP ") + FormatIpv4(source.address) + ':' +
         std::to_string(source.port);
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
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.millisecond);
  return stamp + std::string(event) + "\r\n";
}

std::string CommandEvent(const Source& source, std::string_view message, Command command) {
  const std::string what = command == Command::kUnknown ? "unknown " + EscapeForLog(message)
                                                        : std::string(CommandWord(command));
  return SourceText(source) + ' ' + what + " -> " +
         std::string(source.tcp ? ReplyFor(command) : "none");
}

std::string RefusedEvent(const Source& source) {
  return SourceText(source) + " refused: not in AllowFrom";
}

std::string PowerEvent(bool reboot, bool privilege_ok) {
  return std::string(reboot ? "restart" : "power-off") + " requested (privilege steps " +
         (privilege_ok ? "ok" : "failed") + ")";
}

bool NeedsRollover(std::uint64_t file_bytes, std::size_t line_bytes) {
  return file_bytes > 0 && file_bytes + line_bytes > kLogLimitBytes;
}

}  // namespace qyr
