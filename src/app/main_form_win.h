#pragma once
// TMainForm: the program's one window. It owns every component and holds the program's logic
// as event handlers named after their component and event.
#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/layout.h"
#include "app/open_dialog_win.h"
#include "app/save_mode.h"
#include "app/timer_win.h"
#include "base/window_base_win.h"
#include "base/handles_win.h"
#include "base/post_on_signal_win.h"
#include "base/ids_win.h"
#include "launch/kept_programs_win.h"
#include "launch/schedule.h"
#include "launch/slots.h"
#include "remote/allow_list.h"
#include "remote/command_log.h"
#include "remote/command_log_win.h"
#include "remote/power_clock.h"
#include "remote/power_screen.h"
#include "remote/protocol.h"
#include "remote/listener_win.h"
#include "tray/tray_icon_win.h"

namespace qyr {

// Where the listeners open: all local addresses on the control system's port.
struct RemoteEndpoint {
  Ipv4 address = 0;  // 0.0.0.0
  std::uint16_t port = 26908;
};

class TMainForm : public BaseWindow<TMainForm> {
 public:
  static constexpr const wchar_t* kClassName = L"TMainForm";

  // exe_path decides the settings file, the name test and the remote-control gate.
  explicit TMainForm(std::string exe_path, RemoteEndpoint remote = {});
  ~TMainForm();

  // Creates the window and its controls and runs FormCreate. show_cmd is how it first appears;
  // dpi is the dots per inch the layout is scaled to (0: the system's).
  bool Create(int show_cmd, int dpi = 0);

  // The application's main window: closing it ends the message loop.
  void SetMainWindow(bool main) { is_main_window_ = main; }

  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  HWND ControlByName(std::string_view name) const;
  std::string ControlText(ControlId id) const;
  void SetControlText(ControlId id, std::string_view text);
  const std::string& ExePath() const { return exe_path_; }
  std::string SettingsPath() const { return SettingsPathFor(exe_path_); }

  // What the window renders, read-only: the slots, the schedule, the shutdown screen.
  const SlotArray& Slots() const { return slots_; }
  const Schedule& ScheduleState() const { return schedule_; }
  const PowerScreen& PowerState() const { return power_; }
  const WindowTimer& Timer(TimerId id) const { return id == kTimerTask ? TimerTask : TimerCTRL; }
  const TTrayIcon* TrayIcon() const { return TextTrayIcon1.get(); }
  const Listener& TcpListener() const { return tcp_listener_; }
  const Listener& UdpListener() const { return udp_listener_; }

  // Event handlers and operations.
  void FormCreate();
  void ShowStatus(std::string_view text);
  void LoadSettings();
  void SaveSettings();
  void TimerTaskTimer();
  void LaunchTick();
  void LabelUptimeDblClick();

  // --- Main window: Save, Cancel, the pickers, the help link, automatic start by hand.
  // Save. What this user may not write, an elevated copy of the program writes: its outcome
  // arrives later, and the Save button rests until then.
  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click() { PickFile(ControlId::EditFile1); }
  void BitBtn4Click() { PickFile(ControlId::EditFile2); }
  void BitBtn5Click() { PickFile(ControlId::EditFile3); }
  void BitBtn6Click() { PickFile(ControlId::EditFile4); }
  void Label13Click();
  void ButtonUserSetAutoRUNClick();
  // Hides the window and its taskbar button into the tray; what was typed stays.
  void HideMainWindow();
  // The window's keyboard: Tab in the layout's order, accelerators, Enter. True if used.
  bool PreTranslateMessage(MSG& msg);
  int Dpi() const { return dpi_; }
  // --- end of main window

  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  // --- Tray: the entry in the notification area, made with the window.
  void TextTrayIcon1Click();
  // Brings the window back from the tray (visible, in front; a maximised window stays so).
  void RestoreMainWindow();
  // --- end of tray

  // --- Remote control: the listeners and their handlers.
  void StartRemoteControl();
  void StopRemoteControl();
  // Logoff or shutdown: the log gets its kept lines now (and, when the session ends, the end
  // line), since the process may be ended without its window being destroyed.
  void SessionEnding(bool ending);
  // Interprets one message (code page 936 text) and returns the reply, "OK" or "ERR".
  std::string HandleCommand(std::string_view text);
  // Carries out a matched command: the status line and the shutdown screen.
  void ObeyCommand(Command command, std::string_view text);
  void ShowPowerScreen(std::string_view text);
  // --- end of remote control

  // --- Power countdown: the control timer, the shutdown screen and its clicks.
  void TimerCTRLTimer();
  void LabelStatusClick();  // cancels
  void Label1TipsClick();   // leaves the screen; the countdown pauses
  void Label1Click();       // the screen by hand, without a countdown
  HWND PanelLabel(PanelLabelId id) const { return panel_labels_[static_cast<std::size_t>(id)]; }
  // --- end of power countdown

 private:
  SlotArray slots_;
  Schedule schedule_;
  WindowTimer TimerTask{kTimerTask, kTaskPeriodMs, true};
  // Programs kept running, and what each slot's program is doing now.
  KeptPrograms kept_;
  const std::uint64_t started_ms_ = GetTickCount64();
  // Every slot starts again at its delay (start, Save, the double-click on the uptime figure).
  void ResetLaunches();
  // Starts a slot's program, reports it on the status line and to the keeper.
  void LaunchSlot(int slot);
  // Carries out what the keeper asks for one slot: its restart timer, a log line, a start.
  void ApplyKeep(int slot, const KeepEffects& effects);
  void OnProgramEnded(int slot, LPARAM watch);
  void OnRestartTimer(int slot);
  void StopKeeping();
  // The four slots' states for the status query.
  std::string StatusReplyNow() const;
  std::string ReplyTo(Command command) const;

  // Power by the clock: [POWER] read at start; a one-shot timer at each minute's start.
  void StartPowerClock();
  void OnClockTimer();
  void ArmClockTimer();
  std::optional<PowerClockWatch> clock_;
  TOpenDialog OpenDialog1;
  std::unique_ptr<TTrayIcon> TextTrayIcon1;

  RemoteEndpoint remote_;
  Listener tcp_listener_{Listener::Kind::kTcp};
  Listener udp_listener_{Listener::Kind::kUdp};  // never answers
  // One message from either listener: checked, answered on TCP, carried out, logged.
  void OnCommandReceived(std::string_view bytes, const Source& from, const Listener::Reply& reply);
  void WireRemoteControl();
  // Who may send commands, and the command log; both from the settings file at start.
  bool AllowedSource(const Source& source);
  AllowList allow_list_;
  // Adds a line to the command log (when it is on); it reaches the file at the next flush.
  void Log(std::string_view event);
  void FlushLog();
  // Logs the refusal counts whose minute is over (every one when `all`).
  void LogCountedRefusals(bool all);
  CommandLogFile command_log_;
  WindowTimer TimerLog{kTimerLog, kLogFlushDelayMs, false};
  RefusalCounter refusals_;
  WindowTimer TimerRefusals{kTimerRefusals, static_cast<UINT>(kRefusalLineIntervalMs), false};
  bool end_logged_ = false;

  PowerScreen power_;
  WindowTimer TimerCTRL{kTimerCtrl, kControlPeriodMs, false};
  // Carries out what the shutdown screen's model asks for.
  void Render(const PowerEffects& effects);
  void ApplyWindowForm(WindowForm form);
  void CreatePanelLabels();
  void ArrangePowerPanel();
  void SetBorderless(bool borderless);
  bool panel_fills_client_ = false;  // aligned to the client area once first shown
  std::array<HWND, kPanelLayout.size()> panel_labels_{};

  // The rows and the autostart box as they stand.
  SaveRequest TypedSave() const;
  bool StartElevatedSave(const SaveRequest& typed);
  void ElevatedSaveEnded();
  void ShowSaveOutcome(SaveOutcome outcome);
  KernelHandle elevated_save_;     // the elevated save under way, if any
  PostOnSignal elevated_save_wait_;  // reports its end; goes before the process handle

  void CreateControls();
  void CreateTrayIcon();
  void OnCommand(WORD window_id, WORD code);
  void PickFile(ControlId box);
  HFONT FontFor(const FontSpec& font);
  void ArrangeControls();
  bool HandleLookMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

  std::string exe_path_;
  bool is_main_window_ = false;
  bool created_ = false;  // FormCreate has returned
  std::array<HWND, kControlCount> controls_{};
  int dpi_ = 96;
  Rect96 initial_client_{};
  std::array<Rect96, kControlCount> initial_places_{};
  std::array<UniqueFont, kFontSlots> fonts_;
  UniqueBrush green_brush_;
};

}  // namespace qyr
