// The tray entry and its painted picture, read back pixel by pixel from the real icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/ids_win.h"
#include "test_support_win.h"
#include "tray/tray_icon_win.h"

namespace qyr {
namespace {

struct IconPixels {
  std::vector<COLORREF> color;  // 16 x 16, top row first
  std::vector<bool> transparent;
  COLORREF at(int x, int y) const { return color[static_cast<std::size_t>(y * 16 + x)]; }
  bool clear(int x, int y) const { return transparent[static_cast<std::size_t>(y * 16 + x)]; }
};

std::vector<DWORD> Bits(HBITMAP bitmap) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 16;
  info.bmiHeader.biHeight = -16;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> bits(256);
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, bitmap, 0, 16, bits.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  return bits;
}

IconPixels ReadIcon(HICON icon) {
  ICONINFO info = {};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  IconPixels px;
  for (DWORD v : Bits(info.hbmColor))
    px.color.push_back(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF));
  for (DWORD v : Bits(info.hbmMask)) px.transparent.push_back((v & 0xFFFFFF) != 0);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return px;
}

struct Owner {
  Owner() {
    window = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~Owner() { DestroyWindow(window); }
  HWND window;
};

TEST(GlyphIcon, TheProgramsPictureIsAnOpaqueSquareWithTheGlyphCentred) {
  const GlyphIcon icon("延");
  ASSERT_NE(icon.get(), nullptr);
  const IconPixels px = ReadIcon(icon.get());
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF ink = GetSysColor(COLOR_WINDOWTEXT);

  // Where the glyph's cell lies: measured in the same font.
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                           NONANTIALIASED_QUALITY, 0, L"MS Sans Serif");
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, L"\u5EF6", 1, &size);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  const int left = (15 - size.cx) / 2, top = (15 - size.cy) / 2;

  int glyph = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      EXPECT_FALSE(px.clear(x, y)) << x << "," << y;
      const COLORREF c = px.at(x, y);
      EXPECT_TRUE(c == face || c == ink) << x << "," << y;
      if (c == ink) {
        ++glyph;
        EXPECT_GE(x, left);
        EXPECT_LT(x, left + size.cx);
        EXPECT_GE(y, top);
        EXPECT_LT(y, top + size.cy);
      }
    }
  }
  EXPECT_GT(glyph, 10);
  EXPECT_EQ(px.at(0, 0), face);
  EXPECT_EQ(px.at(15, 15), face);
  EXPECT_EQ(px.at(15, 0), face);
}

TEST(TrayIcon, LeftPressAndReleaseClickOnceOtherButtonsNothing) {
  Owner owner;
  TTrayIcon tray(owner.window, GlyphIcon("延"));
  int clicks = 0;
  tray.OnClick = [&] { ++clicks; };
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
  Owner owner;
  TTrayIcon tray(owner.window, GlyphIcon("延"));
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
