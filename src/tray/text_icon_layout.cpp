#include "tray/text_icon_layout.h"

#include <algorithm>

namespace qyr {

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    const std::size_t cr = text.find('\r');
    if (cr == std::string_view::npos) {
      lines.emplace_back(text);
      return lines;
    }
    lines.emplace_back(text.substr(0, cr));
    text.remove_prefix(cr + 1);
  }
}

ColorValue KeyColorFor(ColorValue color, ColorValue font_color, std::uint32_t font_rgb) {
  if (color == kClNone || color == font_color) return (font_rgb ^ 0xFFFFFFu) & 0xFFFFFFu;
  return color;
}

// C++ division truncates toward zero, as the placement wants: (15 - 20) / 2 == -2.
TextOrigin PlaceSingleLine(int width, int height, int offset_x, int offset_y) {
  return {(15 - width) / 2 + offset_x, (15 - height) / 2 + offset_y};
}

std::vector<TextOrigin> PlaceLines(const std::vector<int>& widths, int line_height,
                                   int line_distance, int offset_x, int offset_y) {
  const int h = line_height + line_distance;
  const int n = static_cast<int>(widths.size());
  const int top = (15 - n * h) / 2 + offset_y;
  std::vector<TextOrigin> origins;
  for (int i = 0; i < n; ++i) {
    origins.push_back({(15 - widths[static_cast<std::size_t>(i)]) / 2 + offset_x, top + i * h});
  }
  return origins;
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
