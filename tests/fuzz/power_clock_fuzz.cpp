// OffAt, RebootAt and Days are typed by hand: any texts must parse without a crash, a clock that
// parses must read the same when written back out, and one that does not must fire nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "remote/power_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The three values, separated by line ends.
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string_view values[3];
  for (std::string_view& value : values) {
    const std::size_t end = rest.find('\n');
    value = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  const qyr::PowerClock clock = qyr::ParsePowerClock(values[0], values[1], values[2]);
  if (!clock.ok()) {
    if (clock.Active() || clock.bad_key.empty()) __builtin_trap();
    if (qyr::PowerClockOffText(clock).find(clock.bad_key) == std::string::npos) __builtin_trap();
    return 0;
  }
  if (clock.days == 0 || clock.days > qyr::kEveryDay) __builtin_trap();
  const std::string off = clock.off_at ? qyr::TimeText(*clock.off_at) : "";
  const std::string reboot = clock.reboot_at ? qyr::TimeText(*clock.reboot_at) : "";
  const qyr::PowerClock again = qyr::ParsePowerClock(off, reboot, qyr::DaysText(clock.days));
  if (!again.ok() || again.off_at != clock.off_at || again.reboot_at != clock.reboot_at ||
      again.days != clock.days) {
    __builtin_trap();
  }

  // Whatever fires, fires once in its own minute.
  qyr::PowerClockWatch watch(clock, {2024, 1, 1, 1, 0, 0});
  for (const auto& at : {clock.off_at, clock.reboot_at}) {
    if (!at) continue;
    for (int weekday = 1; weekday <= 7; ++weekday) {
      const qyr::WallClock now{2024, 2, weekday, weekday, at->hour, at->minute};
      const bool listed = (clock.days >> (weekday - 1) & 1) != 0;
      if (watch.OnTimer(now).has_value() != listed || watch.OnTimer(now)) __builtin_trap();
    }
  }
  return 0;
}
