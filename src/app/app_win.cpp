#include "app/app_win.h"

#include "app/app_rules.h"
#include "base/errors.h"
#include "base/wide_win.h"

namespace qyr {

namespace {

// How the box that this thread is opening is to be placed; its hook runs once, when the box
// is activated, before it is first drawn.
struct BoxPlacement {
  bool centre = false;   // on its monitor's work area (an owned box would sit over its owner)
  bool topmost = false;  // MB_TOPMOST alone is not kept by every window manager
  HHOOK hook = nullptr;
};
thread_local BoxPlacement placement;

LRESULT CALLBACK PlaceBox(int code, WPARAM wp, LPARAM lp) {
  if (code != HCBT_ACTIVATE) return CallNextHookEx(nullptr, code, wp, lp);
  const HWND box = reinterpret_cast<HWND>(wp);
  RECT r = {};
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  if (placement.centre && GetWindowRect(box, &r) &&
      GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &mi)) {
    const RECT& work = mi.rcWork;
    const int x = work.left + (work.right - work.left - (r.right - r.left)) / 2;
    const int y = work.top + (work.bottom - work.top - (r.bottom - r.top)) / 2;
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (placement.topmost) {
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // Placed once; a box opened from within this one gets a hook of its own.
  UnhookWindowsHookEx(placement.hook);
  placement = {};
  return 0;
}

int ShowBox(HWND owner, std::string_view text, UINT icon, bool centre) {
  // A window hidden in the tray (or still being created) cannot hold a box up front: then the
  // box stands on its own, task-modal and topmost.
  if (owner != nullptr && (!IsWindow(owner) || !IsWindowVisible(owner))) owner = nullptr;
  // A box of a topmost window must be topmost too, or the window would cover it.
  const bool topmost =
      owner == nullptr || (GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  UINT flags = MB_OK | MB_SETFOREGROUND | icon | (owner == nullptr ? MB_TASKMODAL : MB_APPLMODAL);
  if (topmost) flags |= MB_TOPMOST;
  if (placement.hook == nullptr) {
    placement = {centre && owner != nullptr, topmost,
                 SetWindowsHookExW(WH_CBT, PlaceBox, nullptr, GetCurrentThreadId())};
  }
  const int answer =
      MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(ApplicationTitle()).c_str(), flags);
  if (placement.hook != nullptr) {  // the box never opened
    UnhookWindowsHookEx(placement.hook);
    placement = {};
  }
  return answer;
}

}  // namespace

std::string ApplicationTitle() { return AppTitle(ModulePathUtf8()); }

void ShowErrorBox(HWND owner, const std::string& message) {
  ShowBox(owner, ErrorBoxText(message), MB_ICONSTOP, false);
}

void ShowPlainMessage(HWND owner, std::string_view text) { ShowBox(owner, text, 0, true); }

}  // namespace qyr
