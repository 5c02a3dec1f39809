#include "tray/text_tray_icon_win.h"

#include "base/wide_win.h"

namespace qyr {

namespace {

UniqueImageList NewSquareImageList() {
  return UniqueImageList(
      ImageList_Create(kTrayIconSize, kTrayIconSize, ILC_COLOR24 | ILC_MASK, 2, 0));
}

HBITMAP NewSquareBitmap() {
  const WindowDc screen(nullptr);
  return CreateCompatibleBitmap(screen.get(), kTrayIconSize, kTrayIconSize);
}

void FillSquare(HDC dc, COLORREF color) {
  UniqueBrush brush(CreateSolidBrush(color));
  RECT all = {0, 0, kTrayIconSize, kTrayIconSize};
  FillRect(dc, &all, brush.get());
}

}  // namespace

COLORREF ResolveColor(ColorValue color) {
  if (IsSystemColor(color)) return GetSysColor(SystemColorIndex(color));
  return color & 0xFFFFFFu;
}

TTextTrayIcon::TTextTrayIcon(HWND main_window) : TTrayIcon(main_window) {
  options_.OnChange = [this] { RebuildIcon(); };
}

void TTextTrayIcon::SetText(std::string text) {
  text_ = std::move(text);
  RebuildIcon();
}

void TTextTrayIcon::SetFont(const TrayFont& font) {
  font_ = font;
  RebuildIcon();
}

void TTextTrayIcon::SetColor(ColorValue color) {
  color_ = color;
  RebuildIcon();
}

void TTextTrayIcon::SetBorder(bool border) {
  border_ = border;
  RebuildIcon();
}

void TTextTrayIcon::SetBorderColor(ColorValue color) {
  border_color_ = color;
  RebuildIcon();
}

void TTextTrayIcon::SetBackgroundIcon(HICON icon) {
  background_.reset(icon != nullptr ? CopyIcon(icon) : nullptr);
  RebuildIcon();
}

void TTextTrayIcon::RenderText() {
  key_color_ = KeyColorFor(color_, font_.color, ResolveColor(font_.color));
  GdiObject bitmap(NewSquareBitmap());
  const MemoryDc dc(CreateCompatibleDC(nullptr));
  ScopedSelectObject select_bitmap(dc.get(), bitmap.get());
  const COLORREF key = ResolveColor(key_color_);
  FillSquare(dc.get(), key);

  // Not antialiased: every glyph pixel is the font colour, every other one the key colour.
  UniqueFont font(CreateFontW(font_.height, 0, 0, 0, font_.bold ? FW_BOLD : FW_NORMAL,
                              font_.italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH,
                              font_.face.c_str()));
  ScopedSelectObject select_font(dc.get(), font.get());
  SetTextColor(dc.get(), ResolveColor(font_.color));
  SetBkColor(dc.get(), key);
  SetBkMode(dc.get(), OPAQUE);

  auto measure = [&](const std::wstring& s) {
    SIZE size = {};
    GetTextExtentPoint32W(dc.get(), s.c_str(), static_cast<int>(s.size()), &size);
    return size;
  };
  auto draw = [&](const std::wstring& s, TextOrigin at) {
    TextOutW(dc.get(), at.x, at.y, s.c_str(), static_cast<int>(s.size()));
  };

  const std::size_t cr = text_.find('\r');
  if (cr != std::string::npos) {
    const std::vector<std::string> lines = SplitTextLines(text_);
    std::vector<std::wstring> wide;
    std::vector<int> widths;
    for (const std::string& line : lines) {
      wide.push_back(Utf8ToWide(line));
      widths.push_back(measure(wide.back()).cx);
    }
    const int line_height = measure(Utf8ToWide(text_.substr(cr))).cy;
    const std::vector<TextOrigin> origins = PlaceLines(
        widths, line_height, options_.LineDistance(), options_.OffsetX(), options_.OffsetY());
    for (std::size_t i = 0; i < wide.size(); ++i) draw(wide[i], origins[i]);
  } else {
    const std::wstring text = Utf8ToWide(text_);
    const SIZE size = measure(text);
    draw(text, PlaceSingleLine(size.cx, size.cy, options_.OffsetX(), options_.OffsetY()));
  }

  if (border_) {
    UniqueBrush brush(CreateSolidBrush(ResolveColor(border_color_)));
    RECT all = {0, 0, kTrayIconSize, kTrayIconSize};
    FrameRect(dc.get(), &all, brush.get());
  }
  text_bitmap_ = std::move(bitmap);
}

HICON TTextTrayIcon::MakeIconFromBitmap(HBITMAP bitmap, ColorValue mask) const {
  const UniqueImageList list = NewSquareImageList();
  if (!list) return nullptr;
  if (mask == kClNone) {
    // No key colour: every pixel opaque. (Wine reads CLR_NONE in AddMasked as black.)
    ImageList_Add(list.get(), bitmap, nullptr);
  } else {
    ImageList_AddMasked(list.get(), bitmap, ResolveColor(mask));
  }
  return ImageList_GetIcon(list.get(), 0, ILD_NORMAL);
}

HICON TTextTrayIcon::MakeIconOverBackground(HBITMAP bitmap) const {
  const UniqueImageList list = NewSquareImageList();
  if (!list) return nullptr;
  ImageList_AddIcon(list.get(), background_.get());
  const COLORREF mask = ResolveColor(
      (color_ == kClNone || color_ == font_.color) ? KeyColorFor(kClNone, font_.color,
                                                                 ResolveColor(font_.color))
                                                   : color_);
  GdiObject target(NewSquareBitmap());
  {
    const MemoryDc dc(CreateCompatibleDC(nullptr));
    ScopedSelectObject select_target(dc.get(), target.get());
    FillSquare(dc.get(), mask);
    ImageList_Draw(list.get(), 0, dc.get(), 0, 0, ILD_TRANSPARENT);
    // Only the glyph pixels of the text rendering land on the background.
    const MemoryDc src(CreateCompatibleDC(nullptr));
    ScopedSelectObject select_src(src.get(), bitmap);
    GdiTransparentBlt(dc.get(), 0, 0, kTrayIconSize, kTrayIconSize, src.get(), 0, 0,
                      kTrayIconSize, kTrayIconSize, ResolveColor(key_color_));
  }
  ImageList_AddMasked(list.get(), static_cast<HBITMAP>(target.get()), mask);
  return ImageList_GetIcon(list.get(), 1, ILD_NORMAL);
}

void TTextTrayIcon::RebuildIcon() {
  RenderText();
  HBITMAP bitmap = static_cast<HBITMAP>(text_bitmap_.get());
  UniqueIcon icon;
  if (background_) {
    icon.reset(MakeIconOverBackground(bitmap));
  } else {
    if (color_ != kClNone) key_color_ = kClNone;
    icon.reset(MakeIconFromBitmap(bitmap, key_color_));
  }
  SetIcon(icon.get());
}

}  // namespace qyr
