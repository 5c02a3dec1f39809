#pragma once
// TrayIcon: the program's entry in the notification area. It keeps the entry there while it is
// wanted (the shell may lose it) and turns a left press-and-release on the icon into a click.
// Whether the main window is shown is the window's own business.
#include <functional>
#include <string>
#include <string_view>

#include <windows.h>

#include "base/window_base_win.h"
#include "tray/glyph_icon_win.h"

#include <shellapi.h>

namespace qyr {

// Its own hidden window receives the shell's notifications (and "TaskbarCreated").
class TrayIcon : public BaseWindow<TrayIcon> {
 public:
  struct Hooks {
    std::function<void()> clicked;  // a left press and release on the icon
  };

  // icon: the entry's picture.
  TrayIcon(GlyphIcon icon, Hooks hooks);
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // From now on the entry is wanted in the notification area: added again after the taskbar
  // restarts, taken out when this object goes.
  void AddToTray();
  bool WantedInTray() const { return wanted_; }
  void SetHint(std::string_view hint);
  const std::string& Hint() const { return hint_; }
  HICON Icon() const { return icon_.get(); }

  // How the shell reaches the entry, and the tooltip as given to it.
  HWND HandlerWindow() const { return hwnd(); }
  UINT Id() const { return kIconId; }
  std::wstring TipText() const;

 private:
  static constexpr UINT kIconId = 1;
  friend class BaseWindow<TrayIcon>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void RemoveFromTray();
  void UpdateTrayEntry();
  NOTIFYICONDATAW FillNotifyData() const;

  GlyphIcon icon_;
  Hooks hooks_;
  std::string hint_;
  bool wanted_ = false;  // wanted there; the shell may have lost it meanwhile
  bool left_press_seen_ = false;
  UINT taskbar_created_ = 0;
};

}  // namespace qyr
