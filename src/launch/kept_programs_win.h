#pragma once
// The launcher's side of keeping programs running: each slot's state machine, the processes it
// started (watched by the system's wait thread, whose end reaches the window as a message) and
// the rules' effects handed back to the window, which carries them out.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <windows.h>

#include "base/handles_win.h"
#include "base/post_on_signal_win.h"
#include "launch/keep_running.h"
#include "launch/slots.h"
#include "launch/starter_win.h"

namespace qyr {

class KeptPrograms {
 public:
  KeptPrograms();

  // The window that ends are posted to: kWmProgramEnded, wParam the slot, lParam the watch.
  void Attach(HWND window) { window_ = window; }
  // The RestartN settings, read once at start.
  void SetRestarts(const std::array<RestartSetting, kSlotCount>& restarts) { restarts_ = restarts; }

  KeepEffects Reset(int slot, std::uint64_t now_ms, const LaunchSlot& program);
  bool MayStart(int slot) const { return slots_[Index(slot)].MayStart(); }
  // How a start went; a process is watched from now on.
  KeepEffects Started(int slot, Launched launched, std::uint64_t now_ms);
  // A posted end; nothing for an end no longer watched.
  std::optional<KeepEffects> Ended(int slot, LPARAM watch, std::uint64_t now_ms);
  KeepEffects RestartDue(int slot, std::uint64_t now_ms);
  // A power action was requested or the program ends: no slot starts again.
  std::array<KeepEffects, kSlotCount> StopKeeping(std::uint64_t now_ms);

  std::array<std::string_view, kSlotCount> StateTexts() const;

 private:
  struct Watch {
    LPARAM id = 0;
    KernelHandle process;
    PostOnSignal post;  // declared after the process: it stops waiting before the handle closes
  };
  static std::size_t Index(int slot) { return static_cast<std::size_t>(slot); }

  HWND window_ = nullptr;
  std::array<KeptSlot, kSlotCount> slots_;
  std::array<RestartSetting, kSlotCount> restarts_{};
  std::array<std::vector<Watch>, kSlotCount> watches_;
  LPARAM next_watch_ = 0;
};

}  // namespace qyr
