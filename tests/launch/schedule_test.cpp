#include "launch/schedule.h"

#include <string>
#include <vector>

#include "launch/slots.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(Schedule, DueSlotsMatchTheCounterInSlotOrder) {
  SlotArray slots = {{{"a.exe", 10}, {"b.exe", 3}, {"", 10}, {"d.txt", 10}}};
  EXPECT_EQ(DueSlots(slots, 10), (std::vector<int>{0, 3}));  // empty path never starts
  EXPECT_EQ(DueSlots(slots, 3), (std::vector<int>{1}));
  EXPECT_TRUE(DueSlots(slots, 4).empty());
  slots[1] = {"C:", -1};
  EXPECT_TRUE(DueSlots(slots, -1).size() == 1);  // two characters are enough to start
  slots[1] = {"C", 5};
  EXPECT_TRUE(DueSlots(slots, 5).empty());
}

TEST(Schedule, StatusTextsSlowModeAndStarterChoice) {
  EXPECT_EQ(LaunchStatus(10, true, "D:\\Show\\QyrPlayer_V3.exe"),
            "10>已启动:D:\\Show\\QyrPlayer_V3.exe");
  EXPECT_EQ(LaunchStatus(3, false, "x.exe"), "3>无法打开:x.exe");
  EXPECT_FALSE(InSlowMode(200));
  EXPECT_TRUE(InSlowMode(201));
  EXPECT_EQ(NextTick(2147483647), -2147483647 - 1);
  EXPECT_TRUE(StartsAsProcess("D:\\Show\\Player.EXE"));
  EXPECT_TRUE(StartsAsProcess("D:\\tools.exe.d\\run.bat"));
  EXPECT_FALSE(StartsAsProcess("D:\\Show\\notes.txt"));
  // Longer than MAX_PATH less its null (in UTF-16 units) is never handed to the system.
  std::string chinese;
  for (int i = 0; i < 256; ++i) chinese += "展";
  const struct {
    std::string path;
    bool fits;
  } paths[] = {
      {"C:\\" + std::string(251, 'a') + ".pptx", true},
      {"C:\\" + std::string(252, 'a') + ".pptx", false},
      {"C:\\" + chinese, true},
      {"C:\\" + chinese + "\xF0\x9F\x98\x80", false},  // two units
      {"C:\\" + std::string(1000, 'a') + ".pptx", false},
      {std::string(kProfileValueMax, 'a'), false},  // as a path cut on reading comes back
  };
  for (const auto& p : paths) EXPECT_EQ(FitsStartPath(p.path), p.fits) << p.path.size();
}

// A tick as the window runs it, with every start answered by `started`.
std::vector<std::string> RunTick(Schedule& schedule, const SlotArray& slots, bool started,
                                 std::string* uptime = nullptr) {
  const TickPlan plan = schedule.BeginTick(slots);
  if (uptime != nullptr) *uptime = plan.uptime;
  std::vector<std::string> statuses;
  for (int i : plan.due) {
    statuses.push_back(schedule.StartReport(slots[static_cast<std::size_t>(i)].Path, started));
  }
  schedule.EndTick();
  if (auto slow = schedule.AfterTimerTick()) statuses.push_back(*slow);
  return statuses;
}

TEST(Schedule, CounterPeriodAndResetsAcrossARun) {
  const SlotArray slots = {{{"a.exe", 0}, {"b.txt", 2}, {"", 2}, {"c.exe", 201}}};
  Schedule s;
  std::string uptime;
  EXPECT_EQ(RunTick(s, slots, true, &uptime), std::vector<std::string>{"0>已启动:a.exe"});
  EXPECT_EQ(uptime, "0");  // the value before this tick moves it on
  EXPECT_TRUE(RunTick(s, slots, true).empty());
  EXPECT_EQ(RunTick(s, slots, false), std::vector<std::string>{"2>无法打开:b.txt"});
  EXPECT_EQ(s.Ticks(), 3);
  // A reset (Save, double-click) starts the slots again at their delays.
  s.Reset();
  EXPECT_EQ(RunTick(s, slots, true), std::vector<std::string>{"0>已启动:a.exe"});
  while (s.Ticks() < 200) RunTick(s, slots, true);
  EXPECT_EQ(s.PeriodMs(), kTaskPeriodMs);
  // Counter 200 is the last at one second; from then on every tick says it is a minute now.
  EXPECT_EQ(RunTick(s, slots, true), std::vector<std::string>{kSlowModeText});
  EXPECT_EQ(s.PeriodMs(), kSlowTaskPeriodMs);
  EXPECT_EQ(RunTick(s, slots, true, &uptime),
            (std::vector<std::string>{"201>已启动:c.exe", kSlowModeText}));
  EXPECT_EQ(uptime, "201");
  // A reset keeps the slow period; the message stops until the counter passes 200 again.
  s.Reset();
  EXPECT_EQ(s.PeriodMs(), kSlowTaskPeriodMs);
  EXPECT_EQ(RunTick(s, slots, true), std::vector<std::string>{"0>已启动:a.exe"});
}

}  // namespace
}  // namespace qyr
