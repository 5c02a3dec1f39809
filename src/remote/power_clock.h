#pragma once
// Power by the clock: the optional [POWER] settings OffAt, RebootAt and Days, and the rule that
// decides, each time the minute changes, whether the PC is powered off or restarted now.
//
// A time is H:MM or HH:MM in 24-hour local time (7:05 and 07:05; not 24:00, 7:5, 07:60, blanks
// inside or a sign). Days lists weekday numbers, Monday 1 to Sunday 7, as single days and
// rising ranges ("1-5", "1,3,5", "1-3,6"); blank means every day. OffAt and RebootAt at the
// same minute are a setting error: which one was meant cannot be known, and the status line
// says so instead of one of them being dropped without a word.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "remote/countdown.h"

namespace qyr {

inline constexpr const char* kOffAtKey = "OffAt";
inline constexpr const char* kRebootAtKey = "RebootAt";
inline constexpr const char* kDaysKey = "Days";

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// Bit d-1 stands for weekday d.
using Weekdays = std::uint8_t;
inline constexpr Weekdays kEveryDay = 0x7F;

enum class PowerClockError {
  kNone,
  kBadTime,         // not H:MM or HH:MM
  kTimeOutOfRange,  // hour past 23 or minute past 59
  kSameMinute,      // RebootAt is the minute of OffAt
  kEmptyDay,        // ",," or a comma at either end
  kBadDay,          // not a digit or a range of two
  kDayOutOfRange,   // a number other than 1 to 7
  kBadRange,        // a range that runs backwards
};

struct PowerClock {
  std::optional<TimeOfDay> off_at;  // none: no power-off by the clock
  std::optional<TimeOfDay> reboot_at;
  Weekdays days = kEveryDay;
  PowerClockError error = PowerClockError::kNone;
  std::string bad_key;    // OffAt, RebootAt or Days
  std::string bad_entry;  // the time, or the Days entry, as written (blanks trimmed)
  bool ok() const { return error == PowerClockError::kNone; }
  // Whether anything fires at all; a clock with an error has no times.
  bool Active() const { return off_at.has_value() || reboot_at.has_value(); }
};

// The three values as read; a missing key reads as blank. With neither time set there is no
// clock and Days is not looked at.
PowerClock ParsePowerClock(std::string_view off_at, std::string_view reboot_at,
                           std::string_view days);

// The status line when the clock is invalid and stays off; the reason follows the prefix.
inline constexpr const char* kPowerClockOffPrefix = "定时关机已关闭:";
std::string PowerClockOffText(const PowerClock& clock);

std::string TimeText(TimeOfDay time);  // "07:05"
std::string DaysText(Weekdays days);   // "1-5", "1,3,5", "1-3,6"

// Local time as the clock rule reads it; weekday 1 (Monday) to 7 (Sunday).
struct WallClock {
  int year = 0, month = 0, day = 0, weekday = 1, hour = 0, minute = 0;
};

// Windows counts weekdays from Sunday 0.
int WeekdayFromSundayZero(int day_of_week);

struct ClockFiring {
  PowerRequest action;
  std::string status;  // "定时关机 HH:MM" / "定时重启 HH:MM"
};

// What has fired already. An action fires only in its own minute, on a listed day, at most once
// a calendar day even when the clock is set back over it; a minute that passed while the PC
// slept, the program did not run or the clock jumped ahead is not made up. The minute the
// program started in never fires either: a PC restarted by the clock can be back within it.
class PowerClockWatch {
 public:
  PowerClockWatch(PowerClock clock, const WallClock& started);
  // Called when the minute timer fires (and may be called more often): what to do now.
  std::optional<ClockFiring> OnTimer(const WallClock& now);

 private:
  struct Date {
    int year = 0, month = 0, day = 0;
    friend bool operator==(const Date&, const Date&) = default;
  };

  PowerClock clock_;
  WallClock started_;
  std::optional<Date> off_fired_;
  std::optional<Date> reboot_fired_;
};

// Milliseconds from the given second and millisecond of a minute to the start of the next,
// 1 to 60000. A timer that comes early finds the old minute and is armed for the rest.
std::uint32_t MsToNextMinute(int second, int millisecond);

}  // namespace qyr
