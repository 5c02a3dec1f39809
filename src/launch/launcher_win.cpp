#include "launch/launcher_win.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/errors.h"
#include "launch/starter_win.h"

namespace qyr {

Launcher::Launcher(LogSink& log, Hooks hooks) : log_(log), hooks_(std::move(hooks)) {}

Launcher::~Launcher() { task_timer_.Detach(); }

void Launcher::Load(const LaunchSettings& settings) {
  slots_ = settings.slots;
  kept_.SetRestarts(settings.restarts);
}

void Launcher::Begin(HWND window) {
  window_ = window;
  kept_.Attach(window);
  RestartSchedule();
}

void Launcher::StartSchedule() { task_timer_.Attach(window_); }

void Launcher::Stop() { task_timer_.Detach(); }

void Launcher::RestartSchedule() {
  schedule_.Reset();
  const std::uint64_t now = GetTickCount64();
  for (int i = 0; i < kSlotCount; ++i) {
    ApplyKeep(i, kept_.Reset(i, now, slots_[static_cast<std::size_t>(i)]));
  }
}

void Launcher::TakeRows(const std::array<RowText, kSlotCount>& rows) {
  if (auto refused = ControlCharacterMessage(rows)) throw UnsafeTextError(*refused);
  if (auto error = qyr::TakeRows(slots_, rows)) throw ConvertError(*error);
}

bool Launcher::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmProgramEnded) {
    OnProgramEnded(static_cast<int>(wp), lp);
    return true;
  }
  if (msg != WM_TIMER) return false;
  if (wp == kTimerTask) {
    OnTaskTimer();
    return true;
  }
  if (wp >= kTimerRestart && wp < kTimerRestart + kSlotCount) {
    OnRestartTimer(static_cast<int>(wp - kTimerRestart));
    return true;
  }
  return false;
}

void Launcher::OnTaskTimer() {
  {
    // A started program may take seconds to become ready: no tick piles up meanwhile.
    const ScopedPause pause(task_timer_);
    Tick();
  }
  if (const auto slow = schedule_.AfterTimerTick()) {
    hooks_.show_status(*slow);
    task_timer_.SetInterval(schedule_.PeriodMs());
  }
}

void Launcher::Tick() {
  const TickPlan plan = schedule_.BeginTick(slots_);
  hooks_.show_uptime(plan.uptime);
  for (int i : plan.due) {
    // A kept program that runs or is being started again is never started a second time.
    if (kept_.MayStart(i)) LaunchSlot(i);
  }
  schedule_.EndTick();
}

void Launcher::LaunchSlot(int slot) {
  const std::string path = slots_[static_cast<std::size_t>(slot)].Path;
  Launched launched = StartProgram(window_, path);
  hooks_.show_status(schedule_.StartReport(path, launched.reported_started));
  ApplyKeep(slot, kept_.Started(slot, std::move(launched), GetTickCount64()));
}

void Launcher::ApplyKeep(int slot, const KeepEffects& effects) {
  if (!effects.log.empty()) log_.Log(effects.log);
  const UINT_PTR timer = kTimerRestart + static_cast<UINT_PTR>(slot);
  if (effects.restart_in_ms) {
    // A timer runs at most about 24 days; one that fires early is armed again for the rest.
    const auto ms =
        std::min<std::uint64_t>(*effects.restart_in_ms, std::numeric_limits<INT>::max());
    SetTimer(window_, timer, static_cast<UINT>(std::max<std::uint64_t>(ms, 1)), nullptr);
  } else {
    KillTimer(window_, timer);
  }
  if (effects.start) LaunchSlot(slot);
}

void Launcher::OnProgramEnded(int slot, LPARAM watch) {
  if (const auto effects = kept_.Ended(slot, watch, GetTickCount64())) ApplyKeep(slot, *effects);
}

void Launcher::OnRestartTimer(int slot) {
  KillTimer(window_, kTimerRestart + static_cast<UINT_PTR>(slot));  // one shot
  ApplyKeep(slot, kept_.RestartDue(slot, GetTickCount64()));
}

void Launcher::StopKeeping() {
  const auto effects = kept_.StopKeeping(GetTickCount64());
  for (int i = 0; i < kSlotCount; ++i) ApplyKeep(i, effects[static_cast<std::size_t>(i)]);
}

std::uint64_t Launcher::UptimeMs() const { return GetTickCount64() - started_ms_; }

}  // namespace qyr
