#pragma once
// GlyphIcon: the tray picture, one character in the window-text colour on an opaque square of
// the button-face colour, so the entry needs no icon artwork.
#include <string_view>

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

class GlyphIcon {
 public:
  // glyph: the character, UTF-8; size: the square's side in pixels, by default the small-icon
  // size the notification area shows. A picture the system could not make is a null icon.
  explicit GlyphIcon(std::string_view glyph, int size = GetSystemMetrics(SM_CXSMICON));

  HICON get() const { return icon_.get(); }

 private:
  UniqueIcon icon_;
};

}  // namespace qyr
