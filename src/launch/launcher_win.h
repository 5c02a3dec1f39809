#pragma once
// The launcher: the four slots, the schedule that starts each at its delay, the task timer that
// moves it on, and the programs kept running. What it shows goes through the hooks the window
// gives it; its lines go to the command log the window hands it.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <windows.h>

#include "base/ids_win.h"
#include "base/log_sink.h"
#include "base/scope_guard.h"
#include "base/timer_win.h"
#include "launch/kept_programs_win.h"
#include "launch/schedule.h"
#include "launch/settings_win.h"
#include "launch/slots.h"

namespace qyr {

class Launcher {
 public:
  struct Hooks {
    std::function<void(std::string_view)> show_status;  // the status line
    std::function<void(std::string_view)> show_uptime;  // the seconds since the schedule began
  };

  Launcher(LogSink& log, Hooks hooks);
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  // The slots and their restarts, as the settings file gave them at start.
  void Load(const LaunchSettings& settings);
  // Starts keeping and counting towards every slot's delay; the timer ticks only once
  // StartSchedule is called, so that nothing starts behind a box shown at start.
  void Begin(HWND window);
  void StartSchedule();
  void Stop();

  // Every slot starts again at its delay: Save's test run, the double-click on the uptime figure.
  void RestartSchedule();
  // The schedule stands still for the scope (a box the user reads).
  ScopedPause<WindowTimer> PauseSchedule() { return ScopedPause<WindowTimer>(task_timer_); }
  // A power action was requested or the program ends: no kept program starts again.
  void StopKeeping();
  // One tick of the schedule: the uptime figure, and what falls due is started.
  void Tick();

  // Takes the rows as typed into the slots; a control character in any box throws
  // UnsafeTextError with nothing taken, a bad delay ConvertError, leaving the rows before it
  // taken.
  void TakeRows(const std::array<RowText, kSlotCount>& rows);

  // The launcher's timers and the end of a kept program. True if the message was the launcher's.
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  // What the status query reports of the launcher: how long it has run and what each slot's
  // program is doing.
  std::uint64_t UptimeMs() const;
  std::array<std::string_view, kSlotCount> StateTexts() const { return kept_.StateTexts(); }

  const SlotArray& Slots() const { return slots_; }
  const Schedule& ScheduleState() const { return schedule_; }
  const WindowTimer& TaskTimer() const { return task_timer_; }

 private:
  void OnTaskTimer();
  void OnProgramEnded(int slot, LPARAM watch);
  void OnRestartTimer(int slot);
  // Starts a slot's program, reports it on the status line and to the keeper.
  void LaunchSlot(int slot);
  // Carries out what the keeper asks for one slot: its restart timer, a log line, a start.
  void ApplyKeep(int slot, const KeepEffects& effects);

  LogSink& log_;
  Hooks hooks_;
  HWND window_ = nullptr;
  SlotArray slots_;
  Schedule schedule_;
  WindowTimer task_timer_{kTimerTask, kTaskPeriodMs, true};
  KeptPrograms kept_;
  const std::uint64_t started_ms_ = GetTickCount64();
};

}  // namespace qyr
