#include "remote/countdown.h"

namespace qyr {

std::vector<CountdownStep> CountdownTick(Countdowns& countdowns) {
  std::vector<CountdownStep> steps;
  if (countdowns.power_off > 0) {
    const std::string text = std::to_string(countdowns.power_off) + "秒后,关闭电脑";
    --countdowns.power_off;
    steps.push_back(
        {text, text,
         countdowns.power_off == 0 ? std::optional(PowerRequest::kPowerOff) : std::nullopt});
  }
  if (countdowns.reboot > 0) {
    const std::string seconds = std::to_string(countdowns.reboot);
    --countdowns.reboot;
    steps.push_back({seconds + "秒后,重启", seconds + "秒后,重启电脑",
                     countdowns.reboot == 0 ? std::optional(PowerRequest::kReboot) : std::nullopt});
  }
  return steps;
}

}  // namespace qyr
