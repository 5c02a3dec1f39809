#pragma once
// MainWindow: the program's one window. It owns the window, its controls and their layout, the
// tray entry and the command log, hands each event to the part it concerns (the launcher, remote
// control or the shutdown screen) and carries out what the part returns. Save, the pickers, the
// links and whether the window is shown are the window's own.
#include <array>
#include <memory>
#include <string>
#include <string_view>

#include <windows.h>

#include "app/file_picker_win.h"
#include "app/layout.h"
#include "app/power_screen_view_win.h"
#include "app/save_mode.h"
#include "base/handles_win.h"
#include "base/post_on_signal_win.h"
#include "base/window_base_win.h"
#include "launch/launcher_win.h"
#include "remote/command_log_win.h"
#include "remote/remote_control_win.h"
#include "tray/tray_icon_win.h"

namespace qyr {

class MainWindow : public BaseWindow<MainWindow> {
 public:
  // exe_path decides the settings file, the name test and the remote-control gate.
  explicit MainWindow(std::string exe_path, RemoteEndpoint remote = {});
  ~MainWindow();

  // Creates the window and its controls and starts the parts. show_cmd is how it first appears;
  // dpi is the dots per inch the layout is scaled to (0: the system's).
  bool Create(int show_cmd, int dpi = 0);
  // The application's main window: closing it ends the message loop.
  void SetMainWindow(bool main) { is_main_window_ = main; }
  // The window's keyboard: Tab in the layout's order, accelerators, Enter. True if used.
  bool PreTranslateMessage(MSG& msg);

  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  std::string ControlText(ControlId id) const;
  void SetControlText(ControlId id, std::string_view text);
  // The status line; it wakes up (is enabled) with its first text.
  void ShowStatus(std::string_view text);

  // The parts, for what they show and hold.
  CommandLog& Log() { return log_; }
  Launcher& Launch() { return launcher_; }
  RemoteControl& Remote() { return remote_; }
  const PowerScreenView& Screen() const { return power_view_; }
  const TrayIcon* Tray() const { return tray_.get(); }

 private:
  friend class BaseWindow<MainWindow>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  void OnCreate();
  void OnDestroy();
  void OnControlCommand(WORD window_id, WORD code);
  // Save. What this user may not write, an elevated copy of the program writes: its outcome
  // arrives later, and the Save button rests until then.
  void OnSaveClicked();
  void OnElevatedSaveEnded();
  void OnPickFileClicked(ControlId box);
  void OnUptimeDoubleClicked();
  void OnMakerLinkClicked();
  void OnManualAutoRunClicked();
  void OnTrayClicked();
  // Logoff or shutdown, or the end of the window (ending).
  void OnSessionEnding(bool ending);

  void LoadRows(const SlotArray& slots);
  // The rows and the autostart box as they stand.
  SaveRequest TypedSave() const;
  bool StartElevatedSave(const SaveRequest& typed);
  void ShowSaveOutcome(SaveOutcome outcome);
  // Hides the window and its taskbar button into the tray; what was typed stays.
  void HideMainWindow();
  // Brings the window back from the tray (visible, in front; a maximised window stays so).
  void RestoreMainWindow();
  // Minimising sends the window to the tray; shown by a call, it comes to the front. Looks at
  // every message before the window handles it.
  void OnShowingMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The answer to the status query: how long the launcher has run, what each slot's program is
  // doing and the last power event.
  std::string StatusReplyText() const;
  // What the parts leave to the window.
  void CarryOut(const RemoteEffects& effects);
  void CarryOut(const ScreenOutcome& outcome);

  // The window's look: built from the layout table, painted in its colours, kept in place.
  void CreateControls();
  void CreatePanelLabels();
  void CreateTrayIcon();
  HFONT FontFor(const FontChoice& font);
  void ArrangeControls();
  bool HandleLookMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

  std::string exe_path_;
  std::string settings_path_;  // beside the exe
  CommandLog log_;             // handed to the parts that log; goes after them
  bool end_logged_ = false;
  Launcher launcher_;
  RemoteControl remote_;
  PowerScreenView power_view_;
  FilePicker file_picker_;
  std::unique_ptr<TrayIcon> tray_;
  KernelHandle elevated_save_;       // the elevated save under way, if any
  PostOnSignal elevated_save_wait_;  // reports its end; goes before the process handle

  bool is_main_window_ = false;
  bool created_ = false;  // OnCreate has returned
  std::array<HWND, kControlCount> controls_{};
  std::array<HWND, kPanelLayout.size()> panel_labels_{};
  int dpi_ = 96;
  Rect96 initial_client_{};
  std::array<Rect96, kControlCount> initial_places_{};
  std::array<UniqueFont, kFontSlots> fonts_;
  UniqueBrush green_brush_;
};

}  // namespace qyr
