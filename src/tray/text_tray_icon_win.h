#pragma once
// TTextTrayIcon: the tray entry whose 16 x 16 picture is painted from a short text.
#include <windows.h>

#include <functional>
#include <string>

#include "base/handles_win.h"
#include "tray/text_icon_layout.h"
#include "tray/tray_icon_win.h"

namespace qyr {

// Placement of the text; a change fires OnChange only when a value really changes.
class TOffsetOptions {
 public:
  std::function<void()> OnChange;
  int OffsetX() const { return offset_x_; }
  int OffsetY() const { return offset_y_; }
  int LineDistance() const { return line_distance_; }
  void SetOffsetX(int v) { Set(offset_x_, v); }
  void SetOffsetY(int v) { Set(offset_y_, v); }
  void SetLineDistance(int v) { Set(line_distance_, v); }

 private:
  void Set(int& field, int v) {
    if (field == v) return;
    field = v;
    if (OnChange) OnChange();
  }
  int offset_x_ = 0;
  int offset_y_ = 0;
  int line_distance_ = 0;
};

struct TrayFont {
  std::wstring face = L"MS Sans Serif";
  int height = -11;  // negative: character height in pixels
  ColorValue color = kClWindowText;
  bool bold = false;
  bool italic = false;
};

class TTextTrayIcon : public TTrayIcon {
 public:
  explicit TTextTrayIcon(HWND main_window);

  void SetText(std::string text);
  const std::string& Text() const { return text_; }
  void SetFont(const TrayFont& font);
  const TrayFont& Font() const { return font_; }
  void SetColor(ColorValue color);
  ColorValue Color() const { return color_; }
  void SetBorder(bool border);
  void SetBorderColor(ColorValue color);
  // Takes a copy; a null icon removes it.
  void SetBackgroundIcon(HICON icon);
  TOffsetOptions& Options() { return options_; }

  void RebuildIcon();

  // The last rendering (before it became an icon), for inspection.
  HBITMAP TextBitmap() const { return static_cast<HBITMAP>(text_bitmap_.get()); }
  ColorValue KeyColor() const { return key_color_; }

 private:
  void RenderText();
  HICON MakeIconFromBitmap(HBITMAP bitmap, ColorValue mask) const;
  HICON MakeIconOverBackground(HBITMAP bitmap) const;

  std::string text_;
  TrayFont font_;
  ColorValue color_ = kClBtnFace;
  bool border_ = false;
  ColorValue border_color_ = kClBlack;
  TOffsetOptions options_;
  UniqueIcon background_;
  ColorValue key_color_ = kClBtnFace;
  GdiObject text_bitmap_;
};

// The RGB value of a stored colour, a system colour resolved from the desktop's scheme.
COLORREF ResolveColor(ColorValue color);

}  // namespace qyr
