#pragma once
// What the tray entry holds: how tall the one character of its picture is and where it goes,
// and how much of the hint its tooltip keeps.
#include <cstddef>
#include <vector>

namespace qyr {

// The character's height in pixels in a square of `size` pixels: 11 at 16, and in proportion
// (rounded) at the larger small-icon sizes of screens with more dots per inch.
int GlyphHeight(int size);

struct GlyphOrigin {
  int x;
  int y;
};

// Where the character's measured cell goes in the square: centred on size - 1 (on 15 at 16, as
// users know it), halves truncated toward zero, so at 16 a cell 20 wide starts at -2.
GlyphOrigin PlaceGlyph(int size, int width, int height);

// The tray entry's tooltip holds this many bytes of the system code page.
inline constexpr std::size_t kTrayTipBytes = 127;

// How many characters of a hint the tooltip keeps: the most that fit in `budget` bytes, given each
// character's length in the tooltip's code page; one that would end past the budget is dropped
// whole. A length the code page could not give (0 or less) counts as one byte.
std::size_t CharsThatFit(const std::vector<int>& char_bytes, std::size_t budget);

}  // namespace qyr
