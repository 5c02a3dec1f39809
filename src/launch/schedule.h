#pragma once
// The one-second launch schedule: which slots are due on a tick, what the status line says,
// and when the timer drops to one tick a minute.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launch/slots.h"

namespace qyr {

inline constexpr unsigned kTaskPeriodMs = 1000;
inline constexpr unsigned kSlowTaskPeriodMs = 60000;
inline constexpr std::int32_t kSlowModeAfter = 200;
inline constexpr const char* kSlowModeText = "进入慢模式,计时器频率由1秒改为60秒";

// Indices of the slots started on the tick with this counter, in slot order.
std::vector<int> DueSlots(const SlotArray& slots, std::int32_t ticks);

// "10>已启动:D:\Show\QyrPlayer_V3.exe" or "10>无法打开:...".
std::string LaunchStatus(std::int32_t ticks, bool started, std::string_view path);

// After a tick: does the counter now call for the slow period (and its status text)?
bool InSlowMode(std::int32_t ticks);

// The counter after a tick; it wraps instead of overflowing.
std::int32_t NextTick(std::int32_t ticks);

// A path holding ".exe" anywhere (any case) is created as a process; anything else is opened
// through the shell.
bool StartsAsProcess(std::string_view path);

// The longest path the system starts: MAX_PATH less its terminating null, in UTF-16 units, for
// CreateProcessW's application name and the shell's file alike. A longer one is not handed to
// them (the shell has been seen to crash on one), nor is a path cut on reading, which is always
// longer; it is reported as a program that cannot be opened.
inline constexpr std::size_t kMaxStartPathLength = 259;
bool FitsStartPath(std::string_view path);

// What a tick shows and starts before the starter runs.
struct TickPlan {
  std::string uptime;    // the uptime figure: the counter before this tick moves it on
  std::vector<int> due;  // slots to start now, in slot order
};

// The schedule's state: the counter and the timer's period. A tick of the task timer runs
// BeginTick, reports each start with StartReport, then EndTick; once the timer is back on,
// AfterTimerTick tells whether the period is a minute now and what the status line says.
class Schedule {
 public:
  TickPlan BeginTick(const SlotArray& slots) const;
  // The status line for one slot once the starter has answered.
  std::string StartReport(std::string_view path, bool started) const;
  void EndTick() { ticks_ = NextTick(ticks_); }
  // Past 200 the period becomes a minute for good, and every tick from then on says so.
  std::optional<std::string> AfterTimerTick();
  // Save and the double-click on the uptime figure: every slot starts again at its delay; the
  // period stays.
  void Reset() { ticks_ = 0; }

  std::int32_t Ticks() const { return ticks_; }
  unsigned PeriodMs() const { return period_ms_; }

 private:
  std::int32_t ticks_ = 0;
  unsigned period_ms_ = kTaskPeriodMs;
};

}  // namespace qyr
