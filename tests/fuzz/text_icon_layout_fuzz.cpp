// The tray text comes from the program's own settings; whatever it holds, splitting it into
// lines must lose nothing, and placing the lines must keep them evenly spaced.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tray/text_icon_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = qyr::SplitTextLines(text);
  if (lines.size() != static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')) + 1)
    __builtin_trap();
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find('\r') != std::string::npos) __builtin_trap();
    if (i > 0) joined.push_back('\r');
    joined += lines[i];
  }
  if (joined != text) __builtin_trap();

  // Metrics of real fonts at tray size: widths and heights well under a few hundred pixels.
  if (size < 4) return 0;
  const int height = data[0] % 64;
  const int distance = static_cast<int>(data[1] % 32) - 16;
  const int offset_x = static_cast<int>(data[2] % 32) - 16;
  const int offset_y = static_cast<int>(data[3] % 32) - 16;
  std::vector<int> widths;
  for (const std::string& line : lines) widths.push_back(static_cast<int>(line.size() % 256));
  const auto origins = qyr::PlaceLines(widths, height, distance, offset_x, offset_y);
  if (origins.size() != widths.size()) __builtin_trap();
  for (std::size_t i = 0; i < origins.size(); ++i) {
    if (origins[i].x != qyr::PlaceSingleLine(widths[i], height, offset_x, offset_y).x)
      __builtin_trap();
    if (i > 0 && origins[i].y - origins[i - 1].y != height + distance) __builtin_trap();
  }
  return 0;
}
