#pragma once
// The optional command log: one printable UTF-8 line per event, so that an integrator can see
// afterwards who sent what and what the PC did about it. The file never grows past a limit;
// it is then copied to one old file and started again.
#include <cstdint>
#include <string>
#include <string_view>

#include "remote/allow_list.h"
#include "remote/protocol.h"

namespace qyr {

inline constexpr std::uint64_t kLogLimitBytes = 1024 * 1024;
inline constexpr std::size_t kLogMessageBytes = 64;  // of an unknown message, at most

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// "TCP 192.168.1.10:50123"
std::string SourceText(const Source& source);

// Bytes as a quoted printable ASCII text: \xHH for anything outside 0x20..0x7E, and for the
// quote and the backslash; at most `max_bytes` of the input, "..." after a cut.
std::string EscapeForLog(std::string_view bytes, std::size_t max_bytes = kLogMessageBytes);

// "2026-12-08 10:15:30.123 " followed by the event and CR LF.
std::string LogLine(const LocalTime& time, std::string_view event);

// "TCP 192.168.1.10:50123 QyrNOR_PC_OFF -> OK"; an unknown message is shown escaped, and a
// datagram is never answered ("-> none").
std::string CommandEvent(const Source& source, std::string_view message, Command command);

// "TCP 192.168.1.99:50123 refused: not in AllowFrom"
std::string RefusedEvent(const Source& source);

// "power-off requested (privilege steps ok)" / "... failed"
std::string PowerEvent(bool reboot, bool privilege_ok);

// Whether the file must be rolled over before a line of `line_bytes` is appended.
bool NeedsRollover(std::uint64_t file_bytes, std::size_t line_bytes);

}  // namespace qyr
