#include "tray/tray_rules.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(TrayRules, GlyphCentresOn15AndTruncatesTowardZero) {
  struct Case {
    int width, height;
    int x, y;
  } cases[] = {
      {11, 13, 2, 1},    // "延" as the program's font measures it
      {16, 16, 0, 0},    // (15 - 16) / 2 is 0, not -1
      {20, 13, -2, 1},   // wider than the square: -2, not -3
      {21, 18, -3, -1},  // (15 - 18) / 2 is -1, not -2
      {0, 0, 7, 7},      // nothing measured: the middle
  };
  for (const Case& c : cases) {
    const GlyphOrigin at = PlaceGlyph(c.width, c.height);
    EXPECT_EQ(at.x, c.x) << c.width << "x" << c.height;
    EXPECT_EQ(at.y, c.y) << c.width << "x" << c.height;
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
