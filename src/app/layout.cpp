#include "app/layout.h"

#include <algorithm>
#include <cmath>

namespace qyr {

namespace {

constexpr bool TableInIdOrder() {
  for (std::size_t i = 0; i < kLayout.size(); ++i) {
    if (static_cast<std::size_t>(kLayout[i].id) != i) return false;
  }
  return true;
}
static_assert(TableInIdOrder(), "kLayout rows must follow ControlId order");

constexpr bool PanelTableInIdOrder() {
  for (std::size_t i = 0; i < kPanelLayout.size(); ++i) {
    if (static_cast<std::size_t>(kPanelLayout[i].id) != i) return false;
  }
  return true;
}
static_assert(PanelTableInIdOrder(), "kPanelLayout rows must follow PanelLabelId order");

constexpr int TabCount() {
  int n = 0;
  for (const ControlRow& row : kLayout) n += row.tab != kNoTab ? 1 : 0;
  return n;
}
static_assert(TabCount() == std::tuple_size_v<decltype(TabOrder())>,
              "every keyboard place is used exactly once");

}  // namespace

std::optional<std::size_t> FontSlot(const FontChoice& font) {
  // The place of the first row that has the font.
  for (std::size_t i = 0; i < kLayout.size(); ++i) {
    if (kLayout[i].look.font == font) return i;
  }
  for (std::size_t i = 0; i < kPanelLayout.size(); ++i) {
    if (kPanelLayout[i].look.font == font) return kLayout.size() + i;
  }
  return std::nullopt;
}

std::array<ControlId, kTabCount> TabOrder() {
  std::array<ControlId, kTabCount> order{};
  for (const ControlRow& row : kLayout) {
    if (row.tab != kNoTab) order.at(static_cast<std::size_t>(row.tab)) = row.id;
  }
  return order;
}

std::optional<std::size_t> NextTabStop(const std::array<TabStop, kTabCount>& stops, bool back) {
  const int n = static_cast<int>(stops.size());
  int at = -1;  // outside the order, Tab starts before the first control...
  for (int i = 0; i < n; ++i) {
    if (stops[static_cast<std::size_t>(i)].focused) at = i;
  }
  if (at < 0 && back) at = n;  // ...and Shift+Tab after the last
  for (int step = 1; step <= n; ++step) {
    const auto i = static_cast<std::size_t>(((at + (back ? -step : step)) % n + n) % n);
    if (stops[i].takes_focus) return i;
  }
  return std::nullopt;
}

int ScaleToDpi(int value, int dpi) {
  // Round half away from zero, as a proportional rescale of the whole layout would.
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
}

Rect96 ScaleToDpi(const Rect96& place, int dpi) {
  return {ScaleToDpi(place.left, dpi), ScaleToDpi(place.top, dpi), ScaleToDpi(place.width, dpi),
          ScaleToDpi(place.height, dpi)};
}

Rect96 AnchoredPlace(Anchor anchor, const Rect96& place, const Rect96& initial, const Rect96& now) {
  const int bottom_gap = initial.height - (place.top + place.height);
  switch (anchor) {
    case Anchor::kTopLeft:
      return place;
    case Anchor::kBottomFullWidth:
      return {0, now.height - bottom_gap - place.height, now.width, place.height};
    case Anchor::kBottom: {
      // The centre keeps its fraction of the width, computed from the first place each time so
      // that repeated resizing does not drift.
      const double fraction = (place.left + place.width / 2.0) / initial.width;
      const int left = static_cast<int>(std::lround(fraction * now.width - place.width / 2.0));
      return {left, now.height - bottom_gap - place.height, place.width, place.height};
    }
  }
  return place;
}

std::vector<std::pair<ControlId, Rect96>> AnchoredPlaces(
    const std::array<Rect96, kControlCount>& created, const Rect96& initial, const Rect96& now) {
  std::vector<std::pair<ControlId, Rect96>> places;
  for (const ControlRow& row : kLayout) {
    if (row.anchor == Anchor::kTopLeft) continue;
    places.emplace_back(
        row.id, AnchoredPlace(row.anchor, created[static_cast<std::size_t>(row.id)], initial, now));
  }
  return places;
}

Rect96 PowerPanelPlace(const Rect96& client, const Rect96& status) {
  return {0, 0, client.width, std::max(0, status.top)};
}

std::array<Rect96, kPanelLayout.size()> PanelLabelPlaces(const Rect96& panel, int dpi) {
  std::array<Rect96, kPanelLayout.size()> places{};
  const int width = std::max(0, panel.width - 2 * kPanelBevel);
  const int bottom = std::max(kPanelBevel, panel.height - kPanelBevel);
  int top = kPanelBevel;
  for (std::size_t i = 0; i < kPanelLayout.size(); ++i) {
    const PanelLabelRow& row = kPanelLayout[i];
    const int height =
        row.dock == Dock::kTop ? ScaleToDpi(row.height, dpi) : std::max(0, bottom - top);
    places[i] = {kPanelBevel, top, width, height};
    top += height;
  }
  return places;
}

}  // namespace qyr
