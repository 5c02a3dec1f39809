#include "tray/text_icon_layout.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(TextIconLayout, SplitsOnCarriageReturnsOnly) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {""}},
      {"延", {"延"}},
      {"a\rb", {"a", "b"}},
      {"a\r\nb", {"a", "\nb"}},
      {"a\r", {"a", ""}},
      {"\r\r", {"", "", ""}},
      {"a\nb", {"a\nb"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitTextLines(c.text), c.lines) << c.text;
}

TEST(TextIconLayout, PlacementCentresOn15AndTruncatesTowardZero) {
  EXPECT_EQ(PlaceSingleLine(11, 13, 0, 0).x, 2);
  EXPECT_EQ(PlaceSingleLine(11, 13, 0, 0).y, 1);
  EXPECT_EQ(PlaceSingleLine(20, 13, 0, 0).x, -2);  // not -3
  EXPECT_EQ(PlaceSingleLine(21, 18, 1, -1).x, -2);
  EXPECT_EQ(PlaceSingleLine(21, 18, 1, -1).y, -2);

  const auto two = PlaceLines({5, 9}, 7, 0, 0, 0);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].x, 5);
  EXPECT_EQ(two[1].x, 3);
  EXPECT_EQ(two[0].y, 0);  // (15 - 14) / 2
  EXPECT_EQ(two[1].y, 7);
  const auto spaced = PlaceLines({5, 5, 5}, 7, 1, 0, 2);
  EXPECT_EQ(spaced[0].y, (15 - 24) / 2 + 2);
  EXPECT_EQ(spaced[2].y, spaced[0].y + 16);
}

TEST(TextIconLayout, KeyColourRule) {
  // The program's own icon: button face stays the key.
  EXPECT_EQ(KeyColorFor(kClBtnFace, kClWindowText, 0x000000), kClBtnFace);
  // clNone or the same stored value as the font colour: the inverted font colour.
  EXPECT_EQ(KeyColorFor(kClNone, kClWindowText, 0x000000), 0xFFFFFFu);
  EXPECT_EQ(KeyColorFor(0x00123456, 0x00123456, 0x00123456), 0x00EDCBA9u);
  // A system colour and an RGB value never count as equal, even when they look the same.
  EXPECT_EQ(KeyColorFor(0x000000, kClWindowText, 0x000000), 0x000000u);
}

TEST(TextIconLayout, TooltipKeepsTheWholeCharactersThatFitItsBytes) {
  // `ascii` one-byte characters followed by `tail`.
  const auto hint = [](std::size_t ascii, std::vector<int> tail) {
    std::vector<int> bytes(ascii, 1);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  struct Case {
    std::vector<int> char_bytes;
    std::size_t want;
  } cases[] = {
      {{}, 0},
      {hint(10, {2, 2, 1}), 13},
      {hint(127, {}), 127},
      {hint(200, {}), 127},
      {hint(125, {2, 2}), 126},  // the first Chinese character ends on the last byte
      {hint(126, {2, 2}), 126},  // none ends half way
      {hint(126, {0}), 127},     // a length not given counts as one byte
      {hint(127, {-1}), 127},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CharsThatFit(c.char_bytes, kTrayTipBytes), c.want) << c.char_bytes.size();
  }
}

}  // namespace
}  // namespace qyr
