#pragma once
// TrayIcon: the program's entry in the notification area. It keeps the entry up to date,
// turns a left press-and-release on the icon into on_click, and sends the main window to the
// tray and back. The main window itself carries the taskbar button, so hiding it hides both.
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
  // main_window: the window sent to the tray and restored from it; icon: the entry's picture.
  TrayIcon(HWND main_window, GlyphIcon icon);
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  std::function<void()> on_click;

  // From now on the entry is wanted in the notification area: added again after the taskbar
  // restarts, taken out when this object goes.
  void AddToTray();
  bool IconVisible() const { return icon_visible_; }
  void SetHint(std::string_view hint);
  const std::string& Hint() const { return hint_; }
  HICON Icon() const { return icon_.get(); }

  void RestoreMainWindow();
  void HideMainWindow();

  // The main window forwards its messages here before handling them itself.
  void MainWindowMessage(UINT msg, WPARAM wp, LPARAM lp);

  // How the shell reaches the entry, and the tooltip as given to it.
  HWND HandlerWindow() const { return hwnd(); }
  UINT Id() const { return kIconId; }
  std::wstring TipText() const;

 private:
  static constexpr UINT kIconId = 1;
  friend class BaseWindow<TrayIcon>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void SendToTray();
  void RemoveFromTray();
  void UpdateTrayEntry();
  NOTIFYICONDATAW FillNotifyData() const;

  HWND main_window_;
  GlyphIcon icon_;
  std::string hint_;
  bool icon_visible_ = false;  // wanted there; the shell may have lost it meanwhile
  bool left_press_seen_ = false;
  UINT taskbar_created_ = 0;
};

}  // namespace qyr
