#include "launch/kept_programs_win.h"

#include <algorithm>

#include "base/ids_win.h"

namespace qyr {

KeptPrograms::KeptPrograms() : slots_{KeptSlot(0), KeptSlot(1), KeptSlot(2), KeptSlot(3)} {}

KeepEffects KeptPrograms::Reset(int slot, std::uint64_t now_ms, const LaunchSlot& program) {
  return slots_[Index(slot)].OnScheduleReset(now_ms, program, restarts_[Index(slot)]);
}

KeepEffects KeptPrograms::Started(int slot, Launched launched, std::uint64_t now_ms) {
  KeptSlot& kept = slots_[Index(slot)];
  switch (launched.how) {
    case Launched::How::kFailed:
      return kept.OnStartFailed(now_ms);
    case Launched::How::kOpenedNoProcess:
      return kept.OnOpened(now_ms);
    case Launched::How::kProcess:
      break;
  }
  Watch watch;
  watch.id = ++next_watch_;
  watch.process = std::move(launched.process);
  watch.post = PostOnSignal(watch.process.get(), window_, kWmProgramEnded,
                            static_cast<WPARAM>(slot), watch.id);
  // Without a wait its end would never be known: the slot is not kept on a process it cannot
  // see end, and says so by counting it as ended at once.
  if (!watch.post.ok()) {
    kept.OnStarted(now_ms);
    return kept.OnEnded(now_ms, 0);
  }
  watches_[Index(slot)].push_back(std::move(watch));
  return kept.OnStarted(now_ms);
}

std::optional<KeepEffects> KeptPrograms::Ended(int slot, LPARAM watch, std::uint64_t now_ms) {
  if (slot < 0 || slot >= kSlotCount) return std::nullopt;
  std::vector<Watch>& watches = watches_[Index(slot)];
  const auto it = std::find_if(watches.begin(), watches.end(),
                               [watch](const Watch& w) { return w.id == watch; });
  if (it == watches.end()) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(it->process.get(), &code);  // 0 when it cannot be read: nothing to go on
  watches.erase(it);
  return slots_[Index(slot)].OnEnded(now_ms, code);
}

KeepEffects KeptPrograms::RestartDue(int slot, std::uint64_t now_ms) {
  return slots_[Index(slot)].OnRestartDue(now_ms);
}

std::array<KeepEffects, kSlotCount> KeptPrograms::StopKeeping(std::uint64_t now_ms) {
  std::array<KeepEffects, kSlotCount> effects;
  for (int i = 0; i < kSlotCount; ++i) effects[Index(i)] = slots_[Index(i)].OnStopKeeping(now_ms);
  return effects;
}

std::array<std::string_view, kSlotCount> KeptPrograms::StateTexts() const {
  std::array<std::string_view, kSlotCount> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = SlotStateText(slots_[i].State());
  return texts;
}

}  // namespace qyr
