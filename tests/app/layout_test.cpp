// The layout rules: scaling, where anchored controls go on resizing, the keyboard order.
#include "app/layout.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(Layout, ScalesEveryLengthInProportion) {
  EXPECT_EQ(ScaleToDpi(Rect96{374, 194, 105, 44}, 96), (Rect96{374, 194, 105, 44}));
  EXPECT_EQ(ScaleToDpi(Rect96{374, 194, 105, 44}, 144), (Rect96{561, 291, 158, 66}));
  EXPECT_EQ(ScaleToDpi(Rect96{0, 248, 497, 19}, 120), (Rect96{0, 310, 621, 24}));
}

TEST(Layout, AnchoredControlsFollowTheBottomAndKeepTheirCentreFraction) {
  const Rect96 initial = {0, 0, 497, 267};
  struct Case {
    Anchor anchor;
    Rect96 place, now, want;
  };
  const Case cases[] = {
      {Anchor::kTopLeft, {72, 51, 217, 21}, {0, 0, 1000, 700}, {72, 51, 217, 21}},
      {Anchor::kBottomFullWidth, {0, 248, 497, 19}, {0, 0, 1000, 700}, {0, 681, 1000, 19}},
      {Anchor::kBottomFullWidth, {0, 248, 497, 19}, initial, {0, 248, 497, 19}},
      // BitBtn1: centre 426.5 of 497; bottom gap 29.
      {Anchor::kBottom, {374, 194, 105, 44}, {0, 0, 994, 367}, {801, 294, 105, 44}},
      {Anchor::kBottom, {374, 194, 105, 44}, initial, {374, 194, 105, 44}},
      // Shrinking works the same way round.
      {Anchor::kBottom, {264, 194, 97, 44}, {0, 0, 300, 200}, {140, 127, 97, 44}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnchoredPlace(c.anchor, c.place, initial, c.now), c.want) << c.now.width;
  }
}

TEST(Layout, ShutdownScreenFillsTheWindowAboveTheStatusLine) {
  struct Case {
    Rect96 panel;
    int dpi;
    Rect96 strip, rest;
  };
  const Case cases[] = {
      {{0, 0, 1280, 1005}, 96, {1, 1, 1278, 121}, {1, 122, 1278, 882}},
      {{0, 0, 1280, 995}, 144, {1, 1, 1278, 182}, {1, 183, 1278, 811}},
      // Too short for the strip: it keeps its height and the text gets nothing.
      {{0, 0, 300, 100}, 96, {1, 1, 298, 121}, {1, 122, 298, 0}},
      {{0, 0, 0, 0}, 96, {1, 1, 0, 121}, {1, 122, 0, 0}},
  };
  for (const Case& c : cases) {
    const auto places = PanelLabelPlaces(c.panel, c.dpi);
    EXPECT_EQ(places[static_cast<std::size_t>(PanelLabelId::Label15)], c.strip) << c.panel.height;
    EXPECT_EQ(places[static_cast<std::size_t>(PanelLabelId::Label1Tips)], c.rest) << c.panel.height;
  }
  EXPECT_EQ(PowerPanelPlace({0, 0, 1280, 1024}, {0, 1005, 1280, 19}), (Rect96{0, 0, 1280, 1005}));
}

TEST(Layout, KeyboardOrderRunsFromSaveToTheShutdownPanel) {
  using enum ControlId;
  const std::array<ControlId, 17> want = {
      BitBtn1,          BitBtn2,    EditFile1,       BitBtn3,
      EditDelay1,       EditFile2,  BitBtn4,         EditDelay2,
      EditFile3,        BitBtn5,    EditDelay3,      EditFile4,
      BitBtn6,          EditDelay4, CheckBoxAutoRun, ButtonUserSetAutoRUN,
      PanelPowerOFFTips};
  EXPECT_EQ(TabOrder(), want);
}

}  // namespace
}  // namespace qyr
