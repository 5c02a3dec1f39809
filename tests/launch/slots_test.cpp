#include "launch/slots.h"

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

}  // namespace
}  // namespace qyr
