#include "tray/glyph_icon_win.h"

#include <string>

#include "base/wide_win.h"
#include "tray/tray_rules.h"

namespace qyr {

GlyphIcon::GlyphIcon(std::string_view glyph, int size) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  GdiObject bitmap;
  {
    const WindowDc screen(nullptr);
    bitmap.reset(CreateCompatibleBitmap(screen.get(), size, size));
  }
  {
    const MemoryDc dc(CreateCompatibleDC(nullptr));
    const ScopedSelectObject select_bitmap(dc.get(), bitmap.get());
    const UniqueBrush brush(CreateSolidBrush(face));
    const RECT square = {0, 0, size, size};
    FillRect(dc.get(), &square, brush.get());

    // The face the picture has always had; the system substitutes one that holds the character.
    // Not antialiased: every pixel is the character's colour or the square's.
    const UniqueFont font(CreateFontW(-GlyphHeight(size), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"MS Sans Serif"));
    const ScopedSelectObject select_font(dc.get(), font.get());
    SetTextColor(dc.get(), GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc.get(), face);
    SetBkMode(dc.get(), OPAQUE);
    const std::wstring text = Utf8ToWide(glyph);
    SIZE cell = {};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &cell);
    const GlyphOrigin at = PlaceGlyph(size, cell.cx, cell.cy);
    TextOutW(dc.get(), at.x, at.y, text.c_str(), static_cast<int>(text.size()));
  }  // the bitmap leaves the DC before the image list takes it

  // Added without a mask colour: every pixel opaque.
  const UniqueImageList list(ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 1, 0));
  if (!list) return;
  ImageList_Add(list.get(), static_cast<HBITMAP>(bitmap.get()), nullptr);
  icon_.reset(ImageList_GetIcon(list.get(), 0, ILD_NORMAL));
}

}  // namespace qyr
