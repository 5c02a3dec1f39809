// The main window's side of the launcher's kept programs: starting a slot, carrying out what the
// keeper decides when a program ends, and the state of every slot for the status query.
#include <algorithm>
#include <limits>

#include "app/main_form_win.h"
#include "launch/starter_win.h"

namespace qyr {

void TMainForm::ResetLaunches() {
  schedule_.Reset();
  const std::uint64_t now = GetTickCount64();
  for (int i = 0; i < kSlotCount; ++i) {
    ApplyKeep(i, kept_.Reset(i, now, slots_[static_cast<std::size_t>(i)]));
  }
}

void TMainForm::LaunchSlot(int slot) {
  const std::string path = slots_[static_cast<std::size_t>(slot)].Path;
  Launched launched = qyr::StartProgram(hwnd_, path);
  ShowStatus(schedule_.StartReport(path, launched.reported_started));
  ApplyKeep(slot, kept_.Started(slot, std::move(launched), GetTickCount64()));
}

void TMainForm::ApplyKeep(int slot, const KeepEffects& effects) {
  if (!effects.log.empty()) Log(effects.log);
  const UINT_PTR timer = kTimerRestart + static_cast<UINT_PTR>(slot);
  if (effects.restart_in_ms) {
    // A timer runs at most about 24 days; one that fires early is armed again for the rest.
    const auto ms = std::min<std::uint64_t>(*effects.restart_in_ms, std::numeric_limits<INT>::max());
    SetTimer(hwnd_, timer, static_cast<UINT>(std::max<std::uint64_t>(ms, 1)), nullptr);
  } else {
    KillTimer(hwnd_, timer);
  }
  if (effects.start) LaunchSlot(slot);
}

void TMainForm::OnProgramEnded(int slot, LPARAM watch) {
  if (const auto effects = kept_.Ended(slot, watch, GetTickCount64())) ApplyKeep(slot, *effects);
}

void TMainForm::OnRestartTimer(int slot) {
  KillTimer(hwnd_, kTimerRestart + static_cast<UINT_PTR>(slot));  // one shot
  ApplyKeep(slot, kept_.RestartDue(slot, GetTickCount64()));
}

void TMainForm::StopKeeping() {
  const auto effects = kept_.StopKeeping(GetTickCount64());
  for (int i = 0; i < kSlotCount; ++i) ApplyKeep(i, effects[static_cast<std::size_t>(i)]);
}

std::string TMainForm::StatusReplyNow() const {
  return StatusReply(GetTickCount64() - started_ms_, kept_.StateTexts());
}

std::string TMainForm::ReplyTo(Command command) const {
  return command == Command::kStatus ? StatusReplyNow() : std::string(ReplyFor(command));
}

}  // namespace qyr
