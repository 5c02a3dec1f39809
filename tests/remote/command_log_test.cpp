#include "remote/command_log.h"

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
      {PowerEvent(false, true), "2026-12-08 09:05:07.042 power-off requested (privilege steps ok)\r\n"},
      {PowerEvent(true, false), "2026-12-08 09:05:07.042 restart requested (privilege steps failed)\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogLine(t, c.event), c.line);
}

TEST(CommandLog, RollsOverBeforeALineWouldPassOneMebibyte) {
  EXPECT_FALSE(NeedsRollover(0, 2 * kLogLimitBytes));  // an empty file takes any line
  EXPECT_FALSE(NeedsRollover(kLogLimitBytes - 10, 10));
  EXPECT_TRUE(NeedsRollover(kLogLimitBytes - 10, 11));
  EXPECT_TRUE(NeedsRollover(kLogLimitBytes + 5, 1));
}

}  // namespace
}  // namespace qyr
