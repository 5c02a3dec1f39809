#include "remote/power_clock.h"

#include <algorithm>
#include <utility>

#include "base/text.h"

namespace qyr {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// A time already trimmed and not empty.
PowerClockError ParseTime(std::string_view text, TimeOfDay& time) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return PowerClockError::kBadTime;
  const std::string_view hour = text.substr(0, colon);
  const std::string_view minute = text.substr(colon + 1);
  if (!AllDigits(hour) || hour.size() > 2 || !AllDigits(minute) || minute.size() != 2) {
    return PowerClockError::kBadTime;
  }
  time.hour = hour.size() == 1 ? hour[0] - '0' : (hour[0] - '0') * 10 + (hour[1] - '0');
  time.minute = (minute[0] - '0') * 10 + (minute[1] - '0');
  if (time.hour > 23 || time.minute > 59) return PowerClockError::kTimeOutOfRange;
  return PowerClockError::kNone;
}

PowerClockError ParseDay(std::string_view text, int& day) {
  if (!AllDigits(text)) return PowerClockError::kBadDay;
  if (text.size() != 1 || text[0] < '1' || text[0] > '7') return PowerClockError::kDayOutOfRange;
  day = text[0] - '0';
  return PowerClockError::kNone;
}

// One Days entry, trimmed: "3" or "1-5".
PowerClockError ParseDaysEntry(std::string_view entry, Weekdays& days) {
  if (entry.empty()) return PowerClockError::kEmptyDay;
  const std::size_t dash = entry.find('-');
  int first = 0;
  int last = 0;
  PowerClockError error = ParseDay(entry.substr(0, dash), first);
  if (error != PowerClockError::kNone) return error;
  last = first;
  if (dash != std::string_view::npos) {
    error = ParseDay(entry.substr(dash + 1), last);
    if (error != PowerClockError::kNone) return error;
    if (last < first) return PowerClockError::kBadRange;
  }
  for (int d = first; d <= last; ++d) days = static_cast<Weekdays>(days | 1u << (d - 1));
  return PowerClockError::kNone;
}

// The whole list; a blank text is every day.
PowerClockError ParseDays(std::string_view text, Weekdays& days, std::string& bad_entry) {
  days = kEveryDay;
  if (TrimBlanks(text).empty()) return PowerClockError::kNone;
  days = 0;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = TrimBlanks(text.substr(0, comma));
    const PowerClockError error = ParseDaysEntry(entry, days);
    if (error != PowerClockError::kNone) {
      bad_entry = std::string(entry);
      return error;
    }
    if (comma == std::string_view::npos) return PowerClockError::kNone;
    text.remove_prefix(comma + 1);
  }
}

std::string TwoDigits(int value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

}  // namespace

PowerClock ParsePowerClock(std::string_view off_at, std::string_view reboot_at,
                           std::string_view days) {
  PowerClock clock;
  auto fail = [&clock](PowerClockError error, const char* key, std::string_view entry) {
    // A clock with an error fires nothing.
    clock = PowerClock{};
    clock.error = error;
    clock.bad_key = key;
    clock.bad_entry = std::string(entry);
    return clock;
  };
  const struct {
    std::string_view text;
    const char* key;
    std::optional<TimeOfDay>& into;
  } times[] = {{TrimBlanks(off_at), kOffAtKey, clock.off_at},
               {TrimBlanks(reboot_at), kRebootAtKey, clock.reboot_at}};
  for (const auto& t : times) {
    if (t.text.empty()) continue;
    TimeOfDay time;
    const PowerClockError error = ParseTime(t.text, time);
    if (error != PowerClockError::kNone) return fail(error, t.key, t.text);
    t.into = time;
  }
  if (!clock.Active()) return clock;
  if (clock.off_at && clock.off_at == clock.reboot_at) {
    return fail(PowerClockError::kSameMinute, kRebootAtKey, TrimBlanks(reboot_at));
  }
  std::string bad_day;
  const PowerClockError error = ParseDays(days, clock.days, bad_day);
  if (error != PowerClockError::kNone) return fail(error, kDaysKey, bad_day);
  return clock;
}

std::string PowerClockOffText(const PowerClock& clock) {
  return std::string(kPowerClockOffPrefix) + "设置项" + clock.bad_key + "无效 \"" +
         clock.bad_entry + "\"";
}

std::string TimeText(TimeOfDay time) { return TwoDigits(time.hour) + ":" + TwoDigits(time.minute); }

std::string DaysText(Weekdays days) {
  std::string text;
  for (int d = 1; d <= 7; ++d) {
    if ((days & 1u << (d - 1)) == 0) continue;
    int last = d;
    while (last < 7 && (days & 1u << last) != 0) ++last;
    if (!text.empty()) text += ',';
    text += std::to_string(d);
    if (last > d) text += "-" + std::to_string(last);
    d = last;
  }
  return text;
}

int WeekdayFromSundayZero(int day_of_week) { return day_of_week == 0 ? 7 : day_of_week; }

PowerClockWatch::PowerClockWatch(PowerClock clock, const WallClock& started)
    : clock_(std::move(clock)), started_(started) {}

std::optional<ClockFiring> PowerClockWatch::OnTimer(const WallClock& now) {
  if (!clock_.Active() || now.weekday < 1 || now.weekday > 7) return std::nullopt;
  if ((clock_.days & 1u << (now.weekday - 1)) == 0) return std::nullopt;
  const bool start_minute = now.year == started_.year && now.month == started_.month &&
                            now.day == started_.day && now.hour == started_.hour &&
                            now.minute == started_.minute;
  if (start_minute) return std::nullopt;
  const Date today{now.year, now.month, now.day};
  const struct {
    const std::optional<TimeOfDay>& at;
    std::optional<Date>& fired;
    PowerRequest action;
    const char* text;
  } actions[] = {
      {clock_.off_at, off_fired_, PowerRequest::kPowerOff, "定时关机 "},
      {clock_.reboot_at, reboot_fired_, PowerRequest::kReboot, "定时重启 "},
  };
  for (const auto& a : actions) {
    if (!a.at || a.at->hour != now.hour || a.at->minute != now.minute) continue;
    if (a.fired == today) continue;
    a.fired = today;
    return ClockFiring{a.action, a.text + TimeText(*a.at)};
  }
  return std::nullopt;
}

std::uint32_t MsToNextMinute(int second, int millisecond) {
  // A leap second (60) or a stray value never gives a wait past the minute or of nothing.
  const int elapsed = std::clamp(second, 0, 59) * 1000 + std::clamp(millisecond, 0, 999);
  return static_cast<std::uint32_t>(60000 - elapsed);
}

}  // namespace qyr
