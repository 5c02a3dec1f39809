// The footprint floor for the benchmark: what QyrDelay must hold whatever it does, and nothing
// more. Its main window (hidden, as QyrDelay starts) has the program's own controls, made from
// the program's layout table with the same classes, styles and fonts, the shutdown panel with its
// two labels; a tray entry; the program's manifest (common controls v6) and icon. It serves no
// command: a plain listening socket only says that it is ready.
//
//   footprint_floor.exe PORT [SECONDS [DLL...]]
//       listens on 127.0.0.1:PORT, ends by itself after SECONDS (600); loads each DLL named, to
//       measure what one that QyrDelay links costs in resident memory.
#include <winsock2.h>

#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

#include <windows.h>

#include "app/layout.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

constexpr UINT kWmTray = WM_APP + 1;
constexpr UINT kTrayId = 1;

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// One font a face and height, as the program makes them.
struct Fonts {
  std::array<std::pair<qyr::FontChoice, HFONT>, qyr::kFontSlots> made{};
  std::size_t count = 0;
  HFONT For(const qyr::FontChoice& wanted) {
    for (std::size_t i = 0; i < count; ++i)
      if (made[i].first == wanted) return made[i].second;
    HFONT font = CreateFontW(-wanted.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH, Wide(wanted.face).c_str());
    made[count++] = {wanted, font};
    return font;
  }
};

struct Class {
  const wchar_t* name;
  DWORD style;
  DWORD ex_style;
};

Class ClassOf(qyr::ControlKind kind) {
  switch (kind) {
    case qyr::ControlKind::kLabel:
      return {L"STATIC", SS_NOTIFY, 0};
    case qyr::ControlKind::kEdit:
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE};
    case qyr::ControlKind::kButton:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    case qyr::ControlKind::kCheckBox:
      return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case qyr::ControlKind::kBevel:
      return {L"STATIC", SS_OWNERDRAW, 0};
    case qyr::ControlKind::kPanel:
      return {L"STATIC", SS_OWNERDRAW | SS_NOTIFY | WS_CLIPCHILDREN, 0};
  }
  return {L"STATIC", 0, 0};
}

// The program subclasses its panel to paint it; the floor keeps the hook, not the painting.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  return DefSubclassProc(hwnd, msg, wp, lp);
}

void CreateControls(HWND window, Fonts& fonts) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND panel = nullptr;
  for (const qyr::ControlRow& row : qyr::kLayout) {
    const Class cls = ClassOf(row.kind);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | cls.style;
    if (row.visible) style |= WS_VISIBLE;
    if (!row.enabled) style |= WS_DISABLED;
    HWND child =
        CreateWindowExW(cls.ex_style, cls.name, Wide(row.caption).c_str(), style, row.place.left,
                        row.place.top, row.place.width, row.place.height, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(qyr::ControlWindowId(row.id))),
                        instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.For(row.look.font)), FALSE);
    if (row.kind == qyr::ControlKind::kPanel) panel = child;
  }
  SetWindowSubclass(panel, &PanelProc, 1, 0);
  int top = 0;
  for (const qyr::PanelLabelRow& row : qyr::kPanelLayout) {
    HWND label = CreateWindowExW(
        0, L"STATIC", Wide(row.caption).c_str(), WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0, top, 600,
        row.height > 0 ? row.height : 300, panel,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(qyr::PanelLabelWindowId(row.id))), instance,
        nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.For(row.look.font)), FALSE);
    top += row.height;
  }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER) PostQuitMessage(0);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const int port = argc > 1 ? _wtoi(argv[1]) : 0;
  const int seconds = argc > 2 ? _wtoi(argv[2]) : 600;
  if (port <= 0 || port > 65535 || seconds <= 0) return 2;
  for (int i = 3; i < argc; ++i) {
    if (LoadLibraryW(argv[i]) == nullptr) return 3;
  }

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"QyrFootprintFloor";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"QyrDelay", WS_OVERLAPPEDWINDOW, 0, 0, 513,
                                306, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  Fonts fonts;
  CreateControls(window, fonts);
  HBRUSH green = CreateSolidBrush(qyr::kGreenRgb);

  NOTIFYICONDATAW tray = {};
  tray.cbSize = sizeof tray;
  tray.hWnd = window;
  tray.uID = kTrayId;
  tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray.uCallbackMessage = kWmTray;
  tray.hIcon = wc.hIcon;
  lstrcpynW(tray.szTip, L"QyrDelay", static_cast<int>(std::size(tray.szTip)));
  Shell_NotifyIconW(NIM_ADD, &tray);

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, SOMAXCONN) != 0)
    return 1;
  SetTimer(window, 1, static_cast<UINT>(seconds) * 1000u, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  Shell_NotifyIconW(NIM_DELETE, &tray);
  closesocket(listener);
  WSACleanup();
  DeleteObject(green);
  return 0;
}
