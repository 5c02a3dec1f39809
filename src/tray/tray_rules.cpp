#include "tray/tray_rules.h"

#include <algorithm>

namespace qyr {

int GlyphHeight(int size) { return (11 * size + 8) / 16; }

// C++ division truncates toward zero, as the placement wants.
GlyphOrigin PlaceGlyph(int size, int width, int height) {
  return {(size - 1 - width) / 2, (size - 1 - height) / 2};
}

std::size_t CharsThatFit(const std::vector<int>& char_bytes, std::size_t budget) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < char_bytes.size(); ++i) {
    const auto length = static_cast<std::size_t>(std::max(char_bytes[i], 1));
    if (used + length > budget) return i;
    used += length;
  }
  return char_bytes.size();
}

}  // namespace qyr
