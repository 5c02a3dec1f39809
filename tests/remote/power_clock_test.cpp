#include "remote/power_clock.h"

#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(PowerClock, ParsesTheSettingsOrNamesTheBadEntry) {
  using E = PowerClockError;
  using T = std::optional<TimeOfDay>;
  const struct {
    const char* off_at;
    const char* reboot_at;
    const char* days;
    E error;
    const char* bad_key;
    const char* bad_entry;
    T off;
    T reboot;
    Weekdays day_bits;
  } cases[] = {
      {"", "", "", E::kNone, "", "", {}, {}, kEveryDay},
      {" ", "", "Mon", E::kNone, "", "", {}, {}, kEveryDay},  // no clock: Days is not read
      {"22:30", "", "", E::kNone, "", "", TimeOfDay{22, 30}, {}, kEveryDay},
      {"7:05", "", "1-5", E::kNone, "", "", TimeOfDay{7, 5}, {}, 0x1F},
      {"", "07:05", "1,3,5", E::kNone, "", "", {}, TimeOfDay{7, 5}, 0x15},
      {" 23:59 ", "0:00", " 1-3 , 6 ", E::kNone, "", "", TimeOfDay{23, 59}, TimeOfDay{0, 0}, 0x27},
      {"1:00", "", "7,1-1,6-7", E::kNone, "", "", TimeOfDay{1, 0}, {}, 0x61},
      {"24:00", "", "", E::kTimeOutOfRange, "OffAt", "24:00", {}, {}, kEveryDay},
      {"07:60", "", "", E::kTimeOutOfRange, "OffAt", "07:60", {}, {}, kEveryDay},
      {"7:5", "", "", E::kBadTime, "OffAt", "7:5", {}, {}, kEveryDay},
      {" 07 :05", "", "", E::kBadTime, "OffAt", "07 :05", {}, {}, kEveryDay},
      {"+7:05", "", "", E::kBadTime, "OffAt", "+7:05", {}, {}, kEveryDay},
      {"007:05", "", "", E::kBadTime, "OffAt", "007:05", {}, {}, kEveryDay},
      {"0705", "", "", E::kBadTime, "OffAt", "0705", {}, {}, kEveryDay},
      {"07:05:00", "", "", E::kBadTime, "OffAt", "07:05:00", {}, {}, kEveryDay},
      {"x", "y", "", E::kBadTime, "OffAt", "x", {}, {}, kEveryDay},
      // An error anywhere leaves no time to fire.
      {"22:00", "25:00", "", E::kTimeOutOfRange, "RebootAt", "25:00", {}, {}, kEveryDay},
      {"7:00", "07:00", "", E::kSameMinute, "RebootAt", "07:00", {}, {}, kEveryDay},
      {"7:00", "", "1-5,", E::kEmptyDay, "Days", "", {}, {}, kEveryDay},
      {"7:00", "", "0", E::kDayOutOfRange, "Days", "0", {}, {}, kEveryDay},
      {"7:00", "", "1,10", E::kDayOutOfRange, "Days", "10", {}, {}, kEveryDay},
      {"7:00", "", "5-1", E::kBadRange, "Days", "5-1", {}, {}, kEveryDay},
      {"7:00", "", "1 -5", E::kBadDay, "Days", "1 -5", {}, {}, kEveryDay},
      {"7:00", "", "1-3-5", E::kBadDay, "Days", "1-3-5", {}, {}, kEveryDay},
      {"7:00", "", "Mon-Fri", E::kBadDay, "Days", "Mon-Fri", {}, {}, kEveryDay},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.off_at) + "|" + c.reboot_at + "|" + c.days);
    const PowerClock clock = ParsePowerClock(c.off_at, c.reboot_at, c.days);
    EXPECT_EQ(clock.error, c.error);
    EXPECT_EQ(clock.bad_key, c.bad_key);
    EXPECT_EQ(clock.bad_entry, c.bad_entry);
    EXPECT_EQ(clock.off_at, c.off);
    EXPECT_EQ(clock.reboot_at, c.reboot);
    EXPECT_EQ(clock.days, c.day_bits);
  }
  EXPECT_EQ(PowerClockOffText(ParsePowerClock("7:00", "", "1-5, 8")),
            "定时关机已关闭:设置项Days无效 \"8\"");
  EXPECT_EQ(PowerClockOffText(ParsePowerClock(" 24:00 ", "", "")),
            "定时关机已关闭:设置项OffAt无效 \"24:00\"");
  EXPECT_EQ(DaysText(0x27), "1-3,6");
  EXPECT_EQ(DaysText(0x55), "1,3,5,7");
}

// 2024-01-01 was a Monday.
WallClock At(int day, int hour, int minute) {
  return {2024, 1, day, WeekdayFromSundayZero(day % 7), hour, minute};
}

TEST(PowerClock, FiresInItsOwnMinuteOnListedDaysOnceADay) {
  PowerClockWatch watch(ParsePowerClock("22:00", "6:30", "1-5"), At(1, 8, 0));
  const struct {
    WallClock now;
    const char* status;  // empty: nothing fires
  } steps[] = {
      {At(1, 21, 59), ""},
      {At(1, 22, 0), "定时关机 22:00"},
      {At(1, 22, 0), ""},  // a second timer in the same minute
      {At(2, 6, 30), "定时重启 06:30"},
      {At(2, 22, 1), ""},  // asleep at 22:00: not made up
      {At(3, 22, 0), "定时关机 22:00"},
      {At(3, 21, 30), ""},  // the clock set back an hour passes 22:00 again
      {At(3, 22, 0), ""},
      {At(4, 21, 59), ""},  // the clock jumps ahead over 22:00
      {At(4, 22, 5), ""},
      {At(5, 22, 0), "定时关机 22:00"},
      {At(6, 22, 0), ""},  // Saturday and Sunday are not listed
      {At(7, 6, 30), ""},
      {At(8, 6, 30), "定时重启 06:30"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.now.day) + " " + std::to_string(s.now.hour) + ":" +
                 std::to_string(s.now.minute));
    const std::optional<ClockFiring> fired = watch.OnTimer(s.now);
    EXPECT_EQ(fired ? fired->status : "", s.status);
    if (fired) {
      EXPECT_EQ(fired->action, s.now.hour == 22 ? PowerRequest::kPowerOff : PowerRequest::kReboot);
    }
  }

  // The minute the program started in does not fire, so a restart by the clock is not repeated
  // by a PC that is back within that minute.
  PowerClockWatch restarted(ParsePowerClock("", "6:30", ""), At(2, 6, 30));
  EXPECT_FALSE(restarted.OnTimer(At(2, 6, 30)));
  EXPECT_TRUE(restarted.OnTimer(At(3, 6, 30)));
  PowerClockWatch invalid(ParsePowerClock("6:30", "6:30", ""), At(1, 0, 0));
  EXPECT_FALSE(invalid.OnTimer(At(2, 6, 30)));
}

TEST(PowerClock, TheTimerIsArmedForTheNextMinute) {
  const struct {
    int second, millisecond;
    std::uint32_t ms;
  } cases[] = {
      {0, 0, 60000}, {0, 1, 59999}, {30, 500, 29500}, {59, 999, 1}, {60, 0, 1000}, {-1, -1, 60000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MsToNextMinute(c.second, c.millisecond), c.ms) << c.second << "." << c.millisecond;
  }
  EXPECT_EQ(WeekdayFromSundayZero(0), 7);
  EXPECT_EQ(WeekdayFromSundayZero(1), 1);
}

}  // namespace
}  // namespace qyr
