#include "remote/status_reply.h"

#include <array>
#include <string>

#include <gtest/gtest.h>

namespace qyr {
namespace {

using E = StatusError;

TEST(StatusReplyReader, ReadsTheStatusLineAndTellsWhyAReplyIsNone) {
  using S = SlotState;
  struct Case {
    std::string bytes;
    E error;
    std::uint64_t up = 0;
    std::array<S, 4> slots = {};
  };
  const Case cases[] = {
      {"OK up=11112 1=run 2=run 3=none 4=none", E::kNone, 11112, {S::kRun, S::kRun}},
      {"OK up=0 1=wait 2=ended 3=restart 4=opened",
       E::kNone,
       0,
       {S::kWait, S::kEnded, S::kRestart, S::kOpened}},
      {"  OK  up=7\t1=failed   2=none 3=none 4=run\r\n",
       E::kNone,
       7,
       {S::kFailed, S::kNone, S::kNone, S::kRun}},
      {"OK up=18446744073709551615 1=none 2=none 3=none 4=none", E::kNone, 18446744073709551615u},
      // Cut short (every piece of a whole line is, below): it may still grow into one.
      {"OK", E::kCutShort},  // a program that answers the plain OK to every word stops here
      {"OK up=12 1=run 2=run 3=run \r\n", E::kCutShort},
      {"ER", E::kCutShort},
      {"ERR", E::kErr},
      {"ERR\r\n", E::kErr},
      // Missing or misplaced fields.
      {"OK 1=run 2=run 3=run 4=run", E::kBadUptime},
      {"OK up= 1=run 2=run 3=run 4=run", E::kBadUptime},
      {"OK up=-1 1=run 2=run 3=run 4=run", E::kBadUptime},
      {"OK up=1.5 1=run 2=run 3=run 4=run", E::kBadUptime},
      {"OK up=18446744073709551616 1=run 2=run 3=run 4=run", E::kBadUptime},
      {"OK up=99999999999999999999", E::kBadUptime},  // too big, whatever digits follow
      {"OK up=12 1=run 2=run 4=run", E::kBadSlot},
      {"OK up=12 2=run 1=run 3=run 4=run", E::kBadSlot},
      {"OK up=12 1=run 2=run 3=run 4=run 5=run", E::kTrailing},
      {"OK up=12 1=run 2=run 3=run 4=run\r\nOK", E::kTrailing},
      // State words the program does not write.
      {"OK up=12 1=running 2=run 3=run 4=run", E::kUnknownState},
      {"OK up=12 1=RUN 2=run 3=run 4=run", E::kUnknownState},
      {"OK up=12 1= 2=run 3=run 4=run", E::kUnknownState},
      {"OK up=12 1=run 2=run 3=run 4=paused", E::kUnknownState},
      {"OK up=12 1=run 2=run 3=run 4=rex", E::kUnknownState},
      // Junk.
      {"HELLO", E::kNotStatus},
      {"ok up=12 1=run 2=run 3=run 4=run", E::kNotStatus},
      {"OKAY", E::kNotStatus},
      {"ERR up=12", E::kNotStatus},
      {std::string("\x00\xff\xfe", 3), E::kNotStatus},
  };
  for (const Case& c : cases) {
    const StatusReplyParse parse = ParseStatusReply(c.bytes);
    EXPECT_EQ(parse.error, c.error) << c.bytes;
    if (c.error != E::kNone) continue;
    EXPECT_EQ(parse.up_s, c.up) << c.bytes;
    EXPECT_EQ(parse.slots, c.slots) << c.bytes;
  }

  // Whatever state the program reports, in whichever slot, is read back as that state.
  for (int i = 0; i <= static_cast<int>(S::kOpened); ++i) {
    const auto state = static_cast<S>(i);
    const std::string_view word = SlotStateText(state);
    const std::string line = StatusReply(61999, {"none", word, "none", word});
    const StatusReplyParse parse = ParseStatusReply(line);
    ASSERT_EQ(parse.error, E::kNone) << line;
    EXPECT_EQ(parse.up_s, 61u);
    EXPECT_EQ(parse.slots, (std::array<S, 4>{S::kNone, state, S::kNone, state})) << line;
    // Every shorter piece of it is a reply still coming, never a wrong one.
    for (std::size_t n = 0; n < line.size(); ++n)
      EXPECT_EQ(ParseStatusReply(line.substr(0, n)).error, E::kCutShort) << line.substr(0, n);
  }
}

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
