#include "remote/countdown.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

std::vector<std::string> Statuses(const std::vector<CountdownStep>& steps) {
  std::vector<std::string> out;
  for (const auto& s : steps) out.push_back(s.status);
  return out;
}

TEST(Countdown, PowerOffCountsFiveToOneAndActsOnOne) {
  Countdowns c{kCountdownStart, 0};
  std::vector<std::string> seen;
  std::vector<PowerRequest> actions;
  for (int tick = 0; tick < 7; ++tick) {
    for (const auto& step : CountdownTick(c)) {
      EXPECT_EQ(step.status, step.screen);
      seen.push_back(step.status);
      if (step.action) actions.push_back(*step.action);
    }
    if (tick < 4) {
      EXPECT_TRUE(actions.empty()) << tick;
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"5秒后,关闭电脑", "4秒后,关闭电脑", "3秒后,关闭电脑",
                                            "2秒后,关闭电脑", "1秒后,关闭电脑"}));
  EXPECT_EQ(actions, std::vector<PowerRequest>{PowerRequest::kPowerOff});
  EXPECT_EQ(c.power_off, 0);
}

TEST(Countdown, BothInOneTickPowerOffFirstRebootTextsWin) {
  Countdowns c{1, 1};
  const auto steps = CountdownTick(c);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].action, PowerRequest::kPowerOff);
  EXPECT_EQ(steps[1].action, PowerRequest::kReboot);
  EXPECT_EQ(steps[1].status, "1秒后,重启");
  EXPECT_EQ(steps[1].screen, "1秒后,重启电脑");
}

TEST(Countdown, RearmAndPauseResumeWhereItStopped) {
  Countdowns c{kCountdownStart, 0};
  CountdownTick(c);
  CountdownTick(c);
  c.power_off = kCountdownStart;  // a second power-off command two seconds in
  EXPECT_EQ(Statuses(CountdownTick(c)), std::vector<std::string>{"5秒后,关闭电脑"});
  CountdownTick(c);
  EXPECT_EQ(Statuses(CountdownTick(c)), std::vector<std::string>{"3秒后,关闭电脑"});
  // Paused after "3": the next tick, whenever it comes, shows 2.
  EXPECT_EQ(Statuses(CountdownTick(c)), std::vector<std::string>{"2秒后,关闭电脑"});
  Countdowns idle;
  EXPECT_TRUE(CountdownTick(idle).empty());
}

}  // namespace
}  // namespace qyr
