#include "app/main_form_win.h"

#include "app/app_rules.h"
#include "app/app_win.h"
#include "base/errors.h"
#include "base/scope_guard.h"
#include "base/wide_win.h"
#include "launch/settings_win.h"
#include "launch/starter_win.h"
#include "winsys/player_preset_win.h"

namespace qyr {

TMainForm::TMainForm(std::string exe_path, RemoteEndpoint remote)
    : remote_(std::move(remote)), exe_path_(std::move(exe_path)) {
  WireRemoteControl();
}

TMainForm::~TMainForm() {
  TimerTask.Detach();
  TimerCTRL.Detach();
  TimerLog.Detach();
  TimerRefusals.Detach();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

HWND TMainForm::ControlByName(std::string_view name) const {
  if (const auto id = ControlNamed(name)) return Control(*id);
  if (const auto id = PanelLabelNamed(name)) return PanelLabel(*id);
  return nullptr;
}

std::string TMainForm::ControlText(ControlId id) const { return WindowTextUtf8(Control(id)); }

void TMainForm::SetControlText(ControlId id, std::string_view text) {
  SetWindowTextUtf8(Control(id), text);
}

void TMainForm::FormCreate() {
  PresetPlayerDisplay();
  LoadSettings();
  kept_.Attach(hwnd_);
  kept_.SetRestarts(ReadRestartSettings(SettingsPath()));
  ResetLaunches();
  if (!PassesNameTest(exe_path_)) ShowPlainMessage(hwnd_, kWrongNameMessage);
  if (OpensRemoteControl(exe_path_)) StartRemoteControl();
  StartPowerClock();
  power_ = {};
  if (TextTrayIcon1) TextTrayIcon1->SetHint(kMainCaption);
}

void TMainForm::ShowStatus(std::string_view text) {
  HWND status = Control(ControlId::LabelStatus);
  EnableWindow(status, TRUE);
  // A control system that polls shows the same text again and again: no repaint for that.
  if (WindowTextUtf8(status) != text) SetWindowTextUtf8(status, text);
}

void TMainForm::LoadSettings() {
  slots_ = ReadSlots(SettingsPath(), FolderOf(exe_path_));
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (!ShownInRow(slots_[i])) continue;
    SetControlText(kFileBoxes[i], slots_[i].Path);
    SetControlText(kDelayBoxes[i], DelayText(slots_[i].Delay));
  }
}

void TMainForm::SaveSettings() {
  if (auto error = TakeRows(slots_, TypedSave().rows)) throw ConvertError(*error);
  WriteSlots(SettingsPath(), slots_);
}

SaveRequest TMainForm::TypedSave() const {
  SaveRequest typed;
  for (std::size_t i = 0; i < typed.rows.size(); ++i) {
    typed.rows[i] = {ControlText(kFileBoxes[i]), ControlText(kDelayBoxes[i])};
  }
  typed.autorun =
      SendMessageW(Control(ControlId::CheckBoxAutoRun), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return typed;
}

void TMainForm::TimerTaskTimer() {
  {
    // A started program may take seconds to become ready: no tick piles up meanwhile.
    const ScopedPause pause(TimerTask);
    LaunchTick();
  }
  if (const auto slow = schedule_.AfterTimerTick()) {
    ShowStatus(*slow);
    TimerTask.SetInterval(schedule_.PeriodMs());
  }
}

void TMainForm::LaunchTick() {
  const TickPlan plan = schedule_.BeginTick(slots_);
  SetControlText(ControlId::LabelUptime, plan.uptime);
  for (int i : plan.due) {
    // A kept program that runs or is being started again is never started a second time.
    if (kept_.MayStart(i)) LaunchSlot(i);
  }
  schedule_.EndTick();
}

void TMainForm::LabelUptimeDblClick() { ResetLaunches(); }

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (TextTrayIcon1) TextTrayIcon1->MainWindowMessage(msg, wp, lp);
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      TimerCTRL.Attach(hwnd_);
      TimerLog.Attach(hwnd_);
      TimerRefusals.Attach(hwnd_);
      CreateTrayIcon();
      RunHandler(hwnd_, [this] { FormCreate(); });
      // The schedule starts only now: the name-test box of FormCreate runs a message loop of
      // its own, and no slot may start behind it. The first tick comes a period from here.
      TimerTask.Attach(hwnd_);
      created_ = true;
      return 0;
    case WM_TIMER:
      if (wp == kTimerTask) TimerTaskTimer();
      if (wp == kTimerCtrl) TimerCTRLTimer();
      if (wp == kTimerLog) FlushLog();
      if (wp == kTimerRefusals) LogCountedRefusals(false);
      if (wp == kTimerClock) OnClockTimer();
      if (wp >= kTimerRestart && wp < kTimerRestart + kSlotCount) {
        OnRestartTimer(static_cast<int>(wp - kTimerRestart));
      }
      return 0;
    case kWmProgramEnded:
      OnProgramEnded(static_cast<int>(wp), lp);
      return 0;
    case WM_QUERYENDSESSION:
      SessionEnding(false);
      return TRUE;
    case WM_ENDSESSION:
      if (wp != FALSE) SessionEnding(true);
      return 0;
    case WM_COMMAND:
      if (lp != 0) OnCommand(LOWORD(wp), HIWORD(wp));  // controls only, not menus or keys
      return 0;
    case kWmElevatedSaveEnded:
      ElevatedSaveEnded();
      return 0;
    case WM_DESTROY:
      // An elevated save still under way finishes on its own; nobody is left to report it.
      elevated_save_wait_.reset();
      elevated_save_.reset();
      TimerTask.Detach();
      TimerCTRL.Detach();
      StopRemoteControl();
      TimerLog.Detach();
      TimerRefusals.Detach();
      TextTrayIcon1.reset();  // the entry leaves the notification area
      if (is_main_window_) PostQuitMessage(0);
      return 0;
    default: {
      LRESULT result = 0;
      if (HandleLookMessage(msg, wp, lp, result)) return result;
      return DefWindowProcW(hwnd_, msg, wp, lp);
    }
  }
}

}  // namespace qyr
