#pragma once
// The power countdowns: what one tick of the control timer shows and which forced power
// action it asks for. Both texts of a step use the value before that tick's decrement.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qyr {

inline constexpr std::int32_t kCountdownStart = 5;
inline constexpr unsigned kControlPeriodMs = 1000;

inline constexpr const char* kPowerOffScreenText = "正在关机中...";
inline constexpr const char* kRebootScreenText = "正在重启中...";
inline constexpr const char* kManualScreenText = "显示关机界面";

// ExitWindowsEx flags: EWX_POWEROFF|EWX_FORCE and EWX_REBOOT|EWX_FORCE.
enum class PowerRequest : unsigned { kPowerOff = 12, kReboot = 6 };

struct Countdowns {
  std::int32_t power_off = 0;  // ticks left before a forced power-off; 0 = not armed
  std::int32_t reboot = 0;     // the same for a forced restart
  friend bool operator==(const Countdowns&, const Countdowns&) = default;
};

struct CountdownStep {
  std::string status;                  // for the status line
  std::string screen;                  // for the shutdown screen's big text
  std::optional<PowerRequest> action;  // asked for on the tick that shows 1
};

// One tick: the power-off step first, then the reboot step; each counts its countdown down.
std::vector<CountdownStep> CountdownTick(Countdowns& countdowns);

}  // namespace qyr
