#include "remote/command_log.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(CommandLog, EachEventIsOnePrintableLine) {
  const LocalTime t{2026, 12, 8, 9, 5, 7, 42};
  const Source tcp{true, 0xC0A8010A, 50123};
  const Source udp{false, 0x7F000001, 9};
  const std::string long_junk(100, 'A');
  const struct {
    std::string event;
    std::string line;
  } cases[] = {
      {CommandEvent(tcp, "QyrNOR_PC_OFF\r\n", Command::kPowerOff),
       "2026-12-08 09:05:07.042 TCP 192.168.1.10:50123 QyrNOR_PC_OFF -> OK\r\n"},
      {CommandEvent(udp, "qyrnor_pc_check", Command::kCheck),
       "2026-12-08 09:05:07.042 UDP 127.0.0.1:9 QyrNOR_PC_CHECK -> none\r\n"},
      {CommandEvent(tcp, std::string("a\"\\\r\n\0\xE5\xB1\x95", 9), Command::kUnknown),
       "2026-12-08 09:05:07.042 TCP 192.168.1.10:50123 unknown "
       "\"a\\x22\\x5C\\x0D\\x0A\\x00\\xE5\\xB1\\x95\" -> ERR\r\n"},
      {CommandEvent(tcp, long_junk, Command::kUnknown),
       "2026-12-08 09:05:07.042 TCP 192.168.1.10:50123 unknown \"" + std::string(64, 'A') +
           "\"... -> ERR\r\n"},
      {CommandEvent(tcp, "", Command::kUnknown),
       "2026-12-08 09:05:07.042 TCP 192.168.1.10:50123 unknown \"\" -> ERR\r\n"},
      {RefusedEvent(udp), "2026-12-08 09:05:07.042 UDP 127.0.0.1:9 refused: not in AllowFrom\r\n"},
      {HttpRefusedEvent(tcp, "GET /a.gif?QyrNOR_PC_OFF HTTP/1.1\r\nHost: 192.168.1.10:26908\r\n"),
       "2026-12-08 09:05:07.042 TCP 192.168.1.10:50123 refused: HTTP request "
       "\"GET /a.gif?QyrNOR_PC_OFF HTTP/1.1\\x0D\\x0AHost: 192.168.1.10:26908\\x0D\\x0A\"\r\n"},
      {PowerRequestEvent(false, true),
       "2026-12-08 09:05:07.042 power-off requested (privilege steps ok)\r\n"},
      {PowerRequestEvent(true, false),
       "2026-12-08 09:05:07.042 restart requested (privilege steps failed)\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogLine(t, c.event), c.line);
}

TEST(CommandLog, RollsOverBeforeALineWouldPassOneMebibyte) {
  EXPECT_FALSE(NeedsRollover(0, 2 * kLogLimitBytes));  // an empty file takes any line
  EXPECT_FALSE(NeedsRollover(kLogLimitBytes - 10, 10));
  EXPECT_TRUE(NeedsRollover(kLogLimitBytes - 10, 11));
  EXPECT_TRUE(NeedsRollover(kLogLimitBytes + 5, 1));
}

TEST(CommandLog, TheNewestHalfStartsAtALine) {
  const struct {
    std::string_view content;
    std::size_t start;
  } cases[] = {
      {"", 0}, {"a\n", 2}, {"ab\ncd\n", 3}, {"abc\nd\n", 4}, {"a\nbcdef\n", 8}, {"abcdef", 6},
  };
  for (const auto& c : cases) EXPECT_EQ(NewestHalfStart(c.content), c.start) << c.content;
}

// A flood of refusals writes a line a minute per source, each carrying the count since the one
// before; the sources it remembers are bounded.
TEST(CommandLog, RefusalsAreLoggedOnceAMinutePerSourceWithTheirCount) {
  const Source a{true, 0x0A000001, 4000};
  const Source a_udp{false, 0x0A000001, 9};
  const Source b{true, 0x0A000002, 5000};
  const Source unknown{.tcp = false, .known = false};
  constexpr std::uint64_t kMinute = kRefusalLineIntervalMs;
  RefusalCounter counter;
  const struct {
    Source source;
    std::uint64_t at;
    std::string event;
  } steps[] = {
      {a, 0, "TCP 10.0.0.1:4000 refused: not in AllowFrom"},
      {a, 1, ""},
      {a_udp, 2, "UDP 10.0.0.1:9 refused: not in AllowFrom"},  // each protocol has its line
      {a_udp, kMinute - 1, ""},
      {a, kMinute - 1, ""},
      {b, 10, "TCP 10.0.0.2:5000 refused: not in AllowFrom"},
      {unknown, 11, "UDP unknown sender refused: not in AllowFrom"},
      {a, kMinute, "TCP 10.0.0.1:4000 refused: not in AllowFrom (3 since the last line)"},
      {a, kMinute + 5, ""},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(counter.Refuse(step.source, step.at), step.event) << step.at;
  }
  EXPECT_TRUE(counter.HasCounted());
  // The UDP line's minute is over, the TCP one's not yet.
  EXPECT_EQ(
      counter.Due(kMinute + 6, false),
      std::vector<std::string>{"UDP 10.0.0.1:9 refused: not in AllowFrom (1 since the last line)"});
  EXPECT_EQ(counter.Due(2 * kMinute, false),
            std::vector<std::string>{
                "TCP 10.0.0.1:4000 refused: not in AllowFrom (1 since the last line)"});
  EXPECT_FALSE(counter.HasCounted());

  // 100,000 refusals from one source over ten minutes: eleven lines.
  RefusalCounter flood;
  int lines = 0;
  for (std::uint64_t i = 0; i < 100000; ++i) lines += !flood.Refuse(b, i * 6).empty();
  for (const std::string& e : flood.Due(600000, true)) lines += !e.empty();
  EXPECT_EQ(lines, 11);

  // A thousand sources in one minute: a line for each of the first ones remembered, the rest
  // counted together.
  RefusalCounter many;
  lines = 0;
  for (Ipv4 i = 0; i < 1000; ++i) lines += !many.Refuse({true, 0x0B000000 + i, 1}, i).empty();
  EXPECT_EQ(lines, static_cast<int>(kRefusalSourcesTracked));
  EXPECT_EQ(many.Due(kMinute + 1000, false),
            std::vector<std::string>{
                "other sources refused: not in AllowFrom (936 since the last line)"});

  // Connections closed for new ones are counted alike, in lines of their own.
  RefusalCounter evictions(kEvictedForANewOne);
  EXPECT_EQ(evictions.Refuse(a, 0), "TCP 10.0.0.1:4000 idle connection closed for a new one");
  EXPECT_EQ(evictions.Refuse(a, 1), "");
  EXPECT_EQ(evictions.Due(kMinute, false),
            std::vector<std::string>{
                "TCP 10.0.0.1:4000 idle connection closed for a new one (1 since the last line)"});
}

}  // namespace
}  // namespace qyr
