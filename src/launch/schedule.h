#pragma once
// The one-second launch schedule: which slots are due on a tick, what the status line says,
// and when the timer drops to one tick a minute.
#include <cstdint>
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

}  // namespace qyr
