#include "remote/status_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace qyr {
namespace {

using E = StatusError;

TEST(StatusReplyReader, ReadsTheLastPowerEventAndTheFormWithoutIt) {
  struct Case {
    std::string bytes;
    E error;
    std::optional<PowerEvent> what;
    int seconds_of_day;
  } cases[] = {
      {"OK up=12 1=run 2=none 3=none 4=none", E::kNone, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off@10:31:58", E::kNone, PowerEvent::kOff, 37918},
      {"OK up=12 1=run 2=none 3=none 4=none power=reboot@00:00:00", E::kNone, PowerEvent::kReboot,
       0},
      {"OK up=12 1=run 2=none 3=none 4=none power=cancelled@23:59:59\r\n", E::kNone,
       PowerEvent::kCancelled, 86399},
      {"OK up=12 1=run 2=none 3=none 4=none  power=failed@07:05:09 ", E::kNone, PowerEvent::kFailed,
       25509},
      {"OK up=12 1=run 2=none 3=none 4=none power=off@24:00:00", E::kBadPower, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off@9:00:00 ", E::kBadPower, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=sleep@09:00:00", E::kBadPower, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off", E::kCutShort, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off ", E::kBadPower, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off@10:61", E::kBadPower, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none power=off@10:31:58 x", E::kTrailing, std::nullopt, 0},
      {"OK up=12 1=run 2=none 3=none 4=none 5=run", E::kTrailing, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    const StatusReplyParse parse = ParseStatusReply(c.bytes);
    EXPECT_EQ(parse.error, c.error) << c.bytes;
    EXPECT_EQ(parse.power.has_value(), c.what.has_value()) << c.bytes;
    if (parse.power && c.what) {
      EXPECT_EQ(parse.power->what, *c.what) << c.bytes;
      EXPECT_EQ(parse.power->seconds_of_day, c.seconds_of_day) << c.bytes;
    }
  }
}

TEST(StatusReplyReader, EveryPrefixOfALineWithItsPowerEventIsCutShort) {
  const std::string line = StatusReply(61999, {"run", "wait", "failed", "none"},
                                       LastPower{PowerEvent::kCancelled, 37918});
  EXPECT_EQ(line, "OK up=61 1=run 2=wait 3=failed 4=none power=cancelled@10:31:58");
  EXPECT_EQ(StatusReply(0, {"none", "none", "none", "none"}, LastPower{PowerEvent::kFailed, 5}),
            "OK up=0 1=none 2=none 3=none 4=none power=failed@00:00:05");
  EXPECT_EQ(StatusReply(0, {"none", "none", "none", "none"}, std::nullopt),
            "OK up=0 1=none 2=none 3=none 4=none");
  const StatusReplyParse whole = ParseStatusReply(line);
  ASSERT_EQ(whole.error, E::kNone);
  EXPECT_EQ(whole.up_s, 61u);
  EXPECT_EQ(whole.slots[2], SlotState::kFailed);
  // Up to the fourth state word the reply is still cut short; from there it is whole without
  // the power field or cut short inside it.
  const std::size_t slots_end = line.find(" power=");
  for (std::size_t n = 0; n < line.size(); ++n) {
    const E error = ParseStatusReply(line.substr(0, n)).error;
    if (n == slots_end || n == slots_end + 1) {
      EXPECT_EQ(error, E::kNone) << line.substr(0, n);
    } else {
      EXPECT_EQ(error, E::kCutShort) << line.substr(0, n);
    }
  }
}

}  // namespace
}  // namespace qyr
