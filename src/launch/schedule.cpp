#include "launch/schedule.h"

#include "base/text.h"

namespace qyr {

std::vector<int> DueSlots(const SlotArray& slots, std::int32_t ticks) {
  std::vector<int> due;
  for (int i = 0; i < kSlotCount; ++i) {
    const LaunchSlot& slot = slots[static_cast<std::size_t>(i)];
    if (slot.Delay == ticks && CharCount(slot.Path) >= 2) due.push_back(i);
  }
  return due;
}

std::string LaunchStatus(std::int32_t ticks, bool started, std::string_view path) {
  return std::to_string(ticks) + (started ? ">已启动:" : ">无法打开:") + std::string(path);
}

bool InSlowMode(std::int32_t ticks) { return ticks > kSlowModeAfter; }

std::int32_t NextTick(std::int32_t ticks) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ticks) + 1u);
}

bool StartsAsProcess(std::string_view path) { return Contains(AsciiLower(path), ".exe"); }

bool FitsStartPath(std::string_view path) { return Utf16Length(path) <= kMaxStartPathLength; }

TickPlan Schedule::BeginTick(const SlotArray& slots) const {
  return {std::to_string(ticks_), DueSlots(slots, ticks_)};
}

std::string Schedule::StartReport(std::string_view path, bool started) const {
  return LaunchStatus(ticks_, started, path);
}

std::optional<std::string> Schedule::AfterTimerTick() {
  if (!InSlowMode(ticks_)) return std::nullopt;
  period_ms_ = kSlowTaskPeriodMs;
  return kSlowModeText;
}

}  // namespace qyr
