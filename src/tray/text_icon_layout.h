#pragma once
// Where the tray picture's text goes in its 16 x 16 square, which colour is its key, and how
// much of the hint the tooltip holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qyr {

inline constexpr int kTrayIconSize = 16;

// Colour values as the layout stores them: 0x00BBGGRR, or 0xFF0000nn for system colour nn.
using ColorValue = std::uint32_t;
inline constexpr ColorValue kClNone = 0x1FFFFFFF;
inline constexpr ColorValue kClBtnFace = 0xFF00000F;
inline constexpr ColorValue kClWindowText = 0xFF000008;
inline constexpr ColorValue kClBlack = 0x00000000;

constexpr bool IsSystemColor(ColorValue c) { return (c & 0xFF000000u) == 0xFF000000u; }
constexpr int SystemColorIndex(ColorValue c) { return static_cast<int>(c & 0xFFu); }

// Lines separated by carriage returns only; a line feed after one starts the next line, and a
// text ending in a carriage return has an empty last line.
std::vector<std::string> SplitTextLines(std::string_view text);

// The background (key) colour: the font colour inverted when the background is clNone or the
// same stored value as the font colour, otherwise the background colour itself. font_rgb is
// the font colour with any system colour already resolved.
ColorValue KeyColorFor(ColorValue color, ColorValue font_color, std::uint32_t font_rgb);

struct TextOrigin {
  int x;
  int y;
};

// One line of the measured size, centred on 15 (halves truncate toward zero).
TextOrigin PlaceSingleLine(int width, int height, int offset_x, int offset_y);

// Several lines of the given widths, each line_height (plus line_distance) apart, centred as a
// block.
std::vector<TextOrigin> PlaceLines(const std::vector<int>& widths, int line_height,
                                   int line_distance, int offset_x, int offset_y);

// The tray entry's tooltip holds this many bytes of the system code page.
inline constexpr std::size_t kTrayTipBytes = 127;

// How many characters of a hint the tooltip keeps: the most that fit in `budget` bytes, given each
// character's length in the tooltip's code page; one that would end past the budget is dropped
// whole. A length the code page could not give (0 or less) counts as one byte.
std::size_t CharsThatFit(const std::vector<int>& char_bytes, std::size_t budget);

}  // namespace qyr
