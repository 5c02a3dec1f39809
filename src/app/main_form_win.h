#pragma once
// TMainForm: the program's one window. It owns every component and holds the program's logic
// as event handlers named after their component and event.
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/layout.h"
#include "app/timer_win.h"
#include "app/window_base_win.h"
#include "base/handles_win.h"
#include "base/ids_win.h"
#include "launch/schedule.h"
#include "launch/slots.h"

namespace qyr {

class TMainForm : public BaseWindow<TMainForm> {
 public:
  static constexpr const wchar_t* kClassName = L"TMainForm";

  // exe_path decides the settings file, the name test and the remote-control gate.
  explicit TMainForm(std::string exe_path);
  ~TMainForm();

  // Creates the window and its controls and runs FormCreate. show_cmd is how it first appears.
  bool Create(int show_cmd);

  // The application's main window: closing it ends the message loop.
  void SetMainWindow(bool main) { is_main_window_ = main; }

  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  HWND ControlByName(std::string_view name) const;
  std::string ControlText(ControlId id) const;
  void SetControlText(ControlId id, std::string_view text);
  const std::string& ExePath() const { return exe_path_; }
  std::string SettingsPath() const { return SettingsPathFor(exe_path_); }

  // Shared launcher state (named as the rest of the program refers to it).
  SlotArray Slots;
  std::int32_t UptimeTicks = 0;

  WindowTimer TimerTask{kTimerTask, kTaskPeriodMs, true};

  // Event handlers and operations.
  void FormCreate();
  void ShowStatus(std::string_view text);
  void LoadSettings();
  void SaveSettings();
  void TimerTaskTimer();
  void LaunchTick();
  bool StartProgram(const std::string& path);
  void LabelUptimeDblClick();

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

 private:
  void CreateControls();
  void OnCommand(ControlId id, WORD code);

  std::string exe_path_;
  bool is_main_window_ = false;
  std::array<HWND, kControlCount> controls_{};
  UniqueFont font_;
};

}  // namespace qyr
