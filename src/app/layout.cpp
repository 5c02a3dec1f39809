#include "app/layout.h"

namespace qyr {

namespace {

constexpr bool TableInIdOrder() {
  for (std::size_t i = 0; i < kLayout.size(); ++i) {
    if (static_cast<std::size_t>(kLayout[i].id) != i) return false;
  }
  return true;
}
static_assert(TableInIdOrder(), "kLayout rows must follow ControlId order");

}  // namespace

int ScaleToDpi(int value, int dpi) {
  // Round half away from zero, as a proportional rescale of the whole layout would.
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : (scaled - 48) / 96);
}

}  // namespace qyr
