#include "tray/tray_rules.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(TrayRules, GlyphHeightIs11At16AndGrowsWithTheSquare) {
  struct Case {
    int size, height;
  } cases[] = {{16, 11}, {20, 14}, {24, 17}, {32, 22}, {40, 28}, {48, 33}};
  for (const Case& c : cases) EXPECT_EQ(GlyphHeight(c.size), c.height) << c.size;
}

TEST(TrayRules, GlyphCentresOnOneLessThanTheSquareAndTruncatesTowardZero) {
  struct Case {
    int size, width, height;
    int x, y;
  } cases[] = {
      {16, 11, 13, 2, 1},    // "延" as the program's font measures it
      {16, 16, 16, 0, 0},    // (15 - 16) / 2 is 0, not -1
      {16, 20, 13, -2, 1},   // wider than the square: -2, not -3
      {16, 21, 18, -3, -1},  // (15 - 18) / 2 is -1, not -2
      {16, 0, 0, 7, 7},      // nothing measured: the middle
      {24, 17, 20, 3, 1},    // centred on 23
      {32, 22, 26, 4, 2},    // centred on 31
  };
  for (const Case& c : cases) {
    const GlyphOrigin at = PlaceGlyph(c.size, c.width, c.height);
    EXPECT_EQ(at.x, c.x) << c.size << ": " << c.width << "x" << c.height;
    EXPECT_EQ(at.y, c.y) << c.size << ": " << c.width << "x" << c.height;
  }
}

TEST(TrayRules, TooltipKeepsTheWholeCharactersThatFitItsBytes) {
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
