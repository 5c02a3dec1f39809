#include "launch/slots.h"

#include "launch/schedule.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(Slots, DefaultsWhenKeysAreMissing) {
  // A missing File key reads as its default path; a missing Delay key reads as empty text.
  const std::string folder = "D:\\Show\\";
  const std::int32_t delays[] = {10, 15, 20, 25};
  for (int i = 0; i < kSlotCount; ++i) {
    const LaunchSlot s = SlotFromProfile(i, DefaultPath(i, folder), "");
    EXPECT_EQ(s.Delay, delays[i]);
    EXPECT_EQ(s.Path, i == 0 ? "D:\\Show\\QyrPlayer_V3.exe" : "");
  }
}

TEST(Slots, DelayTextsFromTheFile) {
  EXPECT_EQ(SlotFromProfile(1, "", "0x1E").Delay, 30);
  EXPECT_EQ(SlotFromProfile(1, "", "$1E").Delay, 30);
  EXPECT_EQ(SlotFromProfile(1, "", "abc").Delay, 15);
  EXPECT_EQ(SlotFromProfile(3, "", "-4").Delay, -4);
}

TEST(Slots, LongPathsAreCutAfter2047Characters) {
  std::string chinese;
  for (int i = 0; i < 3000; ++i) chinese += "展";
  const struct {
    std::string path;
    std::string want;
  } cases[] = {
      {std::string(3000, 'a'), std::string(2047, 'a')},
      {std::string(2047, 'a'), std::string(2047, 'a')},
      {chinese, chinese.substr(0, 2047 * 3)},                    // never inside a character
      {"D:\\" + chinese, "D:\\" + chinese.substr(0, 2044 * 3)},  // mixed widths
      {std::string(2046, 'a') + "\xF0\x9F\x98\x80"
                                "b",
       std::string(2046, 'a') + "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SlotFromProfile(0, c.path, "1").Path, c.want) << c.path.size() << " bytes";
  }
}

TEST(Slots, OnlyPathsLongerThanTwoAreShown) {
  EXPECT_FALSE(ShownInRow({"", 1}));
  EXPECT_FALSE(ShownInRow({"C:", 1}));
  EXPECT_TRUE(ShownInRow({"C:\\", 1}));
  EXPECT_FALSE(ShownInRow({"中文", 1}));
}

TEST(Slots, TakeRowsTrimsAndStopsAtTheFirstBadDelay) {
  SlotArray slots;
  std::array<RowText, kSlotCount> rows = {
      {{" a.exe ", "  12  "}, {"b.exe", "$10"}, {"c.exe", "12s"}, {"d.exe", "4"}}};
  const auto error = TakeRows(slots, rows);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(*error, "'12s' is not a valid integer value");
  EXPECT_EQ(slots[0].Path, "a.exe");
  EXPECT_EQ(slots[0].Delay, 12);
  EXPECT_EQ(slots[1].Delay, 16);
  EXPECT_EQ(slots[2].Path, "c.exe");  // the failing row's path is taken already
  EXPECT_EQ(slots[2].Delay, 0);
  EXPECT_EQ(slots[3].Path, "");  // rows after it are not

  rows[2].delay = "\t18\r\n";
  EXPECT_FALSE(TakeRows(slots, rows).has_value());
  EXPECT_EQ(slots[2].Delay, 18);
  EXPECT_EQ(slots[3].Path, "d.exe");
}

TEST(Slots, AControlCharacterInsideABoxRefusesTheSave) {
  const std::array<RowText, kSlotCount> fine = {
      {{"a.exe", "1"}, {"b.exe", "2"}, {"", "3"}, {"", "4"}}};
  const struct {
    std::size_t row;
    RowText text;
    std::optional<std::string> message;
  } cases[] = {
      {0,
       {"C:\\p.exe\r\n[REMOTE]\r\nAllowFrom=\r\n", "10"},
       "程序1的路径含有控制字符(如回车、换行),不能保存"},
      {2, {"D:\\a\tb.exe", "1"}, "程序3的路径含有控制字符(如回车、换行),不能保存"},
      {3, {"D:\\a\x7F.exe", "1"}, "程序4的路径含有控制字符(如回车、换行),不能保存"},
      {1, {"b.exe", "1\n2"}, "程序2的延时含有控制字符(如回车、换行),不能保存"},
      {1, {"b\x01.exe", "1\n2"}, "程序2的路径含有控制字符(如回车、换行),不能保存"},
      // Blanks and control characters around a text are trimmed as always; UTF-8 is text.
      {0, {"\t D:\\展厅\\a b.exe \r\n", "\r\n 10 \t"}, std::nullopt},
  };
  EXPECT_EQ(ControlCharacterMessage(fine), std::nullopt);
  for (const auto& c : cases) {
    std::array<RowText, kSlotCount> rows = fine;
    rows[c.row] = c.text;
    EXPECT_EQ(ControlCharacterMessage(rows), c.message) << c.row << " " << c.text.file;
  }
}

TEST(Slots, SettingsFileAndFolderBesideTheExe) {
  EXPECT_EQ(SettingsPathFor("D:\\Show\\QyrDelay.exe"), "D:\\Show\\QyrDelay.ini");
  EXPECT_EQ(SettingsPathFor("D:\\a.b\\QyrDelay"), "D:\\a.b\\QyrDelay.ini");
  EXPECT_EQ(SettingsPathFor("D:\\Show\\Qyr.Delay.exe"), "D:\\Show\\Qyr.Delay.ini");
  EXPECT_EQ(FolderOf("D:\\Show\\QyrDelay.exe"), "D:\\Show\\");
  EXPECT_EQ(FolderOf("QyrDelay.exe"), "");
}

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
