// The layout rules: scaling, where anchored controls go on resizing, the keyboard order and
// where Tab goes in it.
#include "app/layout.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(Layout, ScalesInProportion) {
  EXPECT_EQ(ScaleToDpi(497, 96), 497);
  EXPECT_EQ(ScaleToDpi(497, 144), 746);  // 745.5 rounds away from zero
  EXPECT_EQ(ScaleToDpi(24, 144), 36);
  EXPECT_EQ(ScaleToDpi(11, 120), 14);
}

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
      // kSaveButton: centre 426.5 of 497; bottom gap 29.
      {Anchor::kBottom, {374, 194, 105, 44}, {0, 0, 994, 367}, {801, 294, 105, 44}},
      {Anchor::kBottom, {374, 194, 105, 44}, initial, {374, 194, 105, 44}},
      // Shrinking works the same way round.
      {Anchor::kBottom, {264, 194, 97, 44}, {0, 0, 300, 200}, {140, 127, 97, 44}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnchoredPlace(c.anchor, c.place, initial, c.now), c.want) << c.now.width;
  }

  // Of the window's own controls only the status line and Save and Cancel follow it.
  std::array<Rect96, kControlCount> created{};
  for (const ControlRow& row : kLayout) created[static_cast<std::size_t>(row.id)] = row.place;
  const std::vector<std::pair<ControlId, Rect96>> moved = {
      {ControlId::kStatusLine, {0, 348, 994, 19}},
      {ControlId::kSaveButton, {801, 294, 105, 44}},
      {ControlId::kCancelButton, {577, 294, 97, 44}}};
  EXPECT_EQ(AnchoredPlaces(created, initial, {0, 0, 994, 367}), moved);
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
    EXPECT_EQ(places[static_cast<std::size_t>(PanelLabelId::kScreenTitle)], c.strip)
        << c.panel.height;
    EXPECT_EQ(places[static_cast<std::size_t>(PanelLabelId::kScreenMessage)], c.rest)
        << c.panel.height;
  }
  EXPECT_EQ(PowerPanelPlace({0, 0, 1280, 1024}, {0, 1005, 1280, 19}), (Rect96{0, 0, 1280, 1005}));
}

TEST(Layout, KeyboardOrderRunsFromSaveToTheShutdownPanel) {
  using enum ControlId;
  const std::array<ControlId, 17> want = {
      kSaveButton,  kCancelButton, kFile1Edit,    kPick1Button,         kDelay1Edit, kFile2Edit,
      kPick2Button, kDelay2Edit,   kFile3Edit,    kPick3Button,         kDelay3Edit, kFile4Edit,
      kPick4Button, kDelay4Edit,   kAutoRunCheck, kStartupFolderButton, kPowerScreen};
  EXPECT_EQ(TabOrder(), want);
}

// Each stop of the keyboard order written as one character: '-' takes no focus, 'o' takes it,
// 'F' has the focus and takes it, 'f' has it but takes it no longer (hidden since).
std::array<TabStop, kTabCount> Stops(std::string_view pattern) {
  std::array<TabStop, kTabCount> stops{};
  for (std::size_t i = 0; i < stops.size(); ++i) {
    const char c = pattern.at(i);
    stops[i] = {c == 'F' || c == 'f', c == 'o' || c == 'F'};
  }
  return stops;
}

TEST(Layout, TabGoesRoundTheOrderToTheNextControlThatTakesTheFocus) {
  constexpr std::optional<std::size_t> kNowhere = std::nullopt;
  struct Case {
    std::string_view stops;
    bool back;
    std::optional<std::size_t> want;
  };
  const Case cases[] = {
      {"Fooooooooooooooo-", false, 1},
      {"Fooooooooooooooo-", true, 15},  // round the start, past the hidden panel
      {"oooooooooooooooF-", false, 0},  // round the end
      {"ooooooooooooooF--", false, 0},  // the hidden manual-autostart button is skipped
      {"ooooooooooooooo-F", true, 14},
      {"oooooooooooooofoo", false, 15},  // from a control hidden while it had the focus
      {"ooooooooooooooooo", false, 0},   // from outside the order: the first
      {"ooooooooooooooooo", true, 16},   // or with Shift, the last
      {"-oooooooooooooo--", false, 1},   // that takes it
      {"ooooooooooooooo--", true, 14},
      {"--------F--------", false, 8},  // the only one keeps the focus
      {"-----------------", false, kNowhere},
      {"-----------------", true, kNowhere},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextTabStop(Stops(c.stops), c.back), c.want) << c.stops << (c.back ? " back" : "");
  }
}

TEST(Layout, FontsAreFoundInTheTables) {
  // One slot per distinct font, across the controls and the panel labels alike.
  const FontChoice fonts[] = {kFormFont, kTitle.font, kUptime.font, kPowerTitle.font};
  for (const FontChoice& a : fonts) {
    ASSERT_TRUE(FontSlot(a).has_value()) << a.face << " " << a.height;
    EXPECT_LT(*FontSlot(a), kFontSlots);
    for (const FontChoice& b : fonts) {
      EXPECT_EQ(FontSlot(a) == FontSlot(b), a == b)
          << a.face << a.height << "/" << b.face << b.height;
    }
  }
  EXPECT_EQ(FontSlot({"MS Sans Serif", 12}), std::nullopt);
}

}  // namespace
}  // namespace qyr
