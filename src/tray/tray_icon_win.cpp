#include "tray/tray_icon_win.h"

#include <utility>
#include <vector>

#include "base/ids_win.h"
#include "base/wide_win.h"
#include "tray/tray_rules.h"

namespace qyr {

namespace {

constexpr wchar_t kHandlerClass[] = L"TTrayIconHandler";

// The hint cut to the tooltip's bytes of code page 936, whole characters only.
std::wstring CutTip(const std::wstring& hint) {
  std::vector<int> char_bytes;
  char_bytes.reserve(hint.size());
  for (wchar_t c : hint) {
    char buf[8];
    char_bytes.push_back(WideCharToMultiByte(936, 0, &c, 1, buf, sizeof(buf), nullptr, nullptr));
  }
  return hint.substr(0, CharsThatFit(char_bytes, kTrayTipBytes));
}

}  // namespace

TrayIcon::TrayIcon(GlyphIcon icon, Hooks hooks) : icon_(std::move(icon)), hooks_(std::move(hooks)) {
  // A hidden top-level window rather than a message-only one: only top-level windows hear the
  // shell's "TaskbarCreated" broadcast.
  CreateHiddenWindow(kHandlerClass, nullptr);
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
}

TrayIcon::~TrayIcon() {
  if (wanted_) RemoveFromTray();
}

LRESULT TrayIcon::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmTrayCallback) {
    if (wp == kIconId) {
      if (lp == WM_LBUTTONDOWN) {
        left_press_seen_ = true;
      } else if (lp == WM_LBUTTONUP) {
        const bool fire = left_press_seen_;
        left_press_seen_ = false;
        if (fire && hooks_.clicked) hooks_.clicked();
      }
    }
    return 0;
  }
  if (taskbar_created_ != 0 && msg == taskbar_created_) {
    // The shell restarted: our entry went with the old one. The main window hears this broadcast
    // too; only this window adds the entry again.
    if (wanted_) AddToTray();
    return 0;
  }
  switch (msg) {
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
    case WM_CLOSE:
      return 1;  // never blocks a log-off or shutdown, never closes on its own
    default:
      return DefWindowProcW(hwnd(), msg, wp, lp);
  }
}

std::wstring TrayIcon::TipText() const {
  if (hint_.empty()) return {};
  return CutTip(Utf8ToWide(hint_));
}

NOTIFYICONDATAW TrayIcon::FillNotifyData() const {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = hwnd();
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kWmTrayCallback;
  data.hIcon = icon_.get();
  const std::wstring tip = TipText();
  lstrcpynW(data.szTip, tip.c_str(), static_cast<int>(std::size(data.szTip)));
  return data;
}

// The shell's answers are not acted on: a refused add is retried by the next add.
void TrayIcon::AddToTray() {
  wanted_ = true;
  NOTIFYICONDATAW data = FillNotifyData();
  Shell_NotifyIconW(NIM_ADD, &data);
}

void TrayIcon::RemoveFromTray() {
  wanted_ = false;
  NOTIFYICONDATAW data = FillNotifyData();
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void TrayIcon::UpdateTrayEntry() {
  NOTIFYICONDATAW data = FillNotifyData();
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayIcon::SetHint(std::string_view hint) {
  hint_ = std::string(hint);
  UpdateTrayEntry();
}

}  // namespace qyr
