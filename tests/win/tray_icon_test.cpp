// The tray entry and its painted picture, read back pixel by pixel from the real icon.
#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "base/handles_win.h"
#include "base/ids_win.h"
#include "test_support_win.h"
#include "tray/tray_icon_win.h"
#include "tray/tray_rules.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

// The picture read back, top row first.
struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<DWORD> color;  // 0x00RRGGBB
  std::vector<DWORD> mask;   // not 0: transparent
  COLORREF at(int x, int y) const {
    const DWORD v = color[Index(x, y)];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  bool clear(int x, int y) const { return (mask[Index(x, y)] & 0xFFFFFF) != 0; }
  std::size_t Index(int x, int y) const { return static_cast<std::size_t>(y * width + x); }
};

std::vector<DWORD> Bits(HGDIOBJ bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> bits(static_cast<std::size_t>(width * height));
  const WindowDc screen(nullptr);
  GetDIBits(screen.get(), static_cast<HBITMAP>(bitmap), 0, static_cast<UINT>(height), bits.data(),
            &info, DIB_RGB_COLORS);
  return bits;
}

IconPixels ReadIcon(HICON icon) {
  ICONINFO info = {};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  const GdiObject color(info.hbmColor);
  const GdiObject mask(info.hbmMask);
  BITMAP shape = {};
  GetObjectW(color.get(), sizeof(shape), &shape);
  IconPixels px;
  px.width = shape.bmWidth;
  px.height = shape.bmHeight;
  px.color = Bits(color.get(), px.width, px.height);
  px.mask = Bits(mask.get(), px.width, px.height);
  return px;
}

// The cell of "延" in the picture's font for a square of `size`.
SIZE MeasureGlyph(int size) {
  const MemoryDc dc(CreateCompatibleDC(nullptr));
  const UniqueFont font(CreateFontW(-GlyphHeight(size), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0,
                                    L"MS Sans Serif"));
  const ScopedSelectObject select_font(dc.get(), font.get());
  SIZE cell = {};
  GetTextExtentPoint32W(dc.get(), L"\u5EF6", 1, &cell);
  return cell;
}

// An opaque square of `size` in the button-face colour, with "延" in the window-text colour
// filling its cell, which is centred on size - 1.
void ExpectGlyphPicture(HICON icon, int size) {
  ASSERT_NE(icon, nullptr);
  const IconPixels px = ReadIcon(icon);
  ASSERT_EQ(px.width, size);
  ASSERT_EQ(px.height, size);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF ink = GetSysColor(COLOR_WINDOWTEXT);
  const SIZE cell = MeasureGlyph(size);
  const int left = (size - 1 - cell.cx) / 2, top = (size - 1 - cell.cy) / 2;

  int glyph = 0;
  RECT inked = {size, size, -1, -1};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      EXPECT_FALSE(px.clear(x, y)) << x << "," << y;
      const COLORREF c = px.at(x, y);
      EXPECT_TRUE(c == face || c == ink) << x << "," << y;
      if (c == ink) {
        ++glyph;
        EXPECT_GE(x, left);
        EXPECT_LT(x, left + cell.cx);
        EXPECT_GE(y, top);
        EXPECT_LT(y, top + cell.cy);
        inked = {std::min<LONG>(inked.left, x), std::min<LONG>(inked.top, y),
                 std::max<LONG>(inked.right, x), std::max<LONG>(inked.bottom, y)};
      }
    }
  }
  EXPECT_GT(glyph, 10);
  // The character grows with the square: its ink spans two thirds of its cell or more.
  EXPECT_GE(3 * (inked.right - inked.left + 1), 2 * cell.cx);
  EXPECT_GE(3 * (inked.bottom - inked.top + 1), 2 * cell.cy);
  EXPECT_EQ(px.at(0, 0), face);
  EXPECT_EQ(px.at(size - 1, size - 1), face);
  EXPECT_EQ(px.at(size - 1, 0), face);
}

TEST(GlyphIcon, TheProgramsPictureIsAnOpaqueSquareWithTheGlyphCentred) {
  {
    SCOPED_TRACE("the size the notification area shows");
    ExpectGlyphPicture(GlyphIcon("延").get(), GetSystemMetrics(SM_CXSMICON));
  }
  // The sizes of screens with more dots per inch.
  for (int size : {16, 20, 24, 32}) {
    SCOPED_TRACE(size);
    ExpectGlyphPicture(GlyphIcon("延", size).get(), size);
  }
}

TEST(TrayIcon, LeftPressAndReleaseClickOnceOtherButtonsNothing) {
  int clicks = 0;
  TrayIcon tray(GlyphIcon("延"), {.clicked = [&] { ++clicks; }});
  auto send = [&](UINT mouse) {
    SendMessageW(tray.HandlerWindow(), kWmTrayCallback, tray.Id(), mouse);
  };
  send(WM_LBUTTONUP);  // a release without a press on the icon
  EXPECT_EQ(clicks, 0);
  send(WM_LBUTTONDOWN);
  send(WM_LBUTTONUP);
  EXPECT_EQ(clicks, 1);
  send(WM_LBUTTONDOWN);  // a double click: down, up, double, up
  send(WM_LBUTTONUP);
  send(WM_LBUTTONDBLCLK);
  send(WM_LBUTTONUP);
  EXPECT_EQ(clicks, 2);
  for (UINT m : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP}) send(m);
  EXPECT_EQ(clicks, 2);
}

TEST(TrayIcon, TooltipIsTheHintCutTo127Bytes) {
  TrayIcon tray(GlyphIcon("延"), {});
  struct Case {
    std::string hint;
    std::wstring tip;
  } cases[] = {
      {"延时启动器-QyrNOR展厅中控系统",
       L"\u5EF6\u65F6\u542F\u52A8\u5668-QyrNOR\u5C55\u5385\u4E2D\u63A7\u7CFB\u7EDF"},
      {std::string(126, 'a') + "延延", std::wstring(126, L'a')},  // no half character at the end
      {std::string(200, 'b'), std::wstring(127, L'b')},
      {"", L""},
  };
  for (const Case& c : cases) {
    tray.SetHint(c.hint);
    EXPECT_EQ(tray.TipText(), c.tip) << c.hint;
  }
}

}  // namespace
}  // namespace qyr
