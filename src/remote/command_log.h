#pragma once
// The optional command log: one printable UTF-8 line per event, so that an integrator can see
// afterwards who sent what and what the PC did about it. The file never grows past a limit;
// it is then copied to one old file and started again.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr std::string_view kRefusedNotAllowed = "refused: not in AllowFrom";
inline constexpr std::string_view kEvictedForANewOne = "idle connection closed for a new one";

// "TCP 192.168.1.10:50123 refused: HTTP request "GET /img.gif?QyrNOR_PC_OFF HTTP/1.1\x0D..."":
// another protocol, never obeyed.
std::string HttpRefusedEvent(const Source& source, std::string_view message);

// "power-off requested (privilege steps ok)" / "... failed"
std::string PowerRequestEvent(bool reboot, bool privilege_ok);

// Whether the file must be rolled over before a line of `line_bytes` is appended.
bool NeedsRollover(std::uint64_t file_bytes, std::size_t line_bytes);

// Where the newest half of a log's lines starts: the first line that begins at or after the
// middle. Kept when the old file cannot take the log, so that logging goes on.
std::size_t NewestHalfStart(std::string_view content);

inline constexpr std::uint64_t kRefusalLineIntervalMs = 60 * 1000;
inline constexpr std::size_t kRefusalSourcesTracked = 64;

// Refused sources are logged at most once a minute per address and protocol, each line carrying how
// many were refused since the one before, so that a flood of refused peers writes a handful of
// lines instead of pushing the evidence out of both files. Memory stays bounded: past
// kRefusalSourcesTracked addresses in one minute the rest are counted together. `what` says what
// befell the source (connections closed for new ones are counted the same way).
class RefusalCounter {
 public:
  explicit RefusalCounter(std::string_view what = kRefusedNotAllowed) : what_(what) {}
  // The event to log for this refusal now, or an empty text when it is only counted.
  std::string Refuse(const Source& source, std::uint64_t now_ms);
  // Events for the counts whose minute is over (every count when `all`); they start again.
  std::vector<std::string> Due(std::uint64_t now_ms, bool all);
  bool HasCounted() const;

 private:
  struct Entry {
    Source last;
    std::uint64_t line_ms = 0;  // when its last line was logged
    std::uint64_t counted = 0;  // refused since then, not logged
  };
  static constexpr std::uint64_t kUnknownKey = std::uint64_t{1} << 32;
  static constexpr std::uint64_t kOthersKey = std::uint64_t{2} << 32;
  static constexpr std::uint64_t kTcpBit = std::uint64_t{4} << 32;
  std::string Event(std::uint64_t key, const Entry& entry) const;
  std::string what_;
  std::map<std::uint64_t, Entry> entries_;
};

}  // namespace qyr
