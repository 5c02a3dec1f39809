#pragma once
// Keeping a slot's program running: the RestartN setting and, per slot, a state machine that
// decides when a program whose process ended is started again. A run that ends quickly over
// and over backs off, so that a program that cannot stay up does not take the PC with it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "launch/slots.h"

namespace qyr {

inline constexpr std::uint64_t kQuickRunMs = 60 * 1000;  // a shorter run is a quick end
inline constexpr int kQuickEndsBeforeBackOff = 3;
inline constexpr std::uint64_t kFirstBackOffMs = 60 * 1000;
inline constexpr std::uint64_t kLongBackOffMs = 5 * 60 * 1000;

std::string RestartKey(int slot);  // "Restart0".."Restart3"

enum class RestartError { kNone, kNotInteger, kNegative };

struct RestartSetting {
  std::optional<std::int32_t> seconds;  // none: never started again (a missing key, 0, an error)
  RestartError error = RestartError::kNone;
};

// The value as read by the integer rule. Missing (empty) and 0 mean off and are no error.
RestartSetting ParseRestart(std::string_view text);

enum class SlotState {
  kNone,     // no program: the path is not shown in a row
  kWait,     // its delay has not been reached
  kRun,      // its process runs
  kEnded,    // it ended and is not started again
  kRestart,  // it ended and waits for its restart
  kFailed,   // it could not be started
  kOpened,   // handed to the shell, which gave no process back
};

// "none", "wait", "run", "ended", "restart", "failed", "opened".
std::string_view SlotStateText(SlotState state);

// What the launcher carries out after an event. Every event gives the whole picture of the
// restart timer, so that carrying it out twice does no harm.
struct KeepEffects {
  SlotState state = SlotState::kNone;
  bool start = false;  // start the slot's program now, then report how that went
  // The slot's one-shot restart timer: (re)armed for this long; none: no restart is due, kill
  // the timer if one is armed.
  std::optional<std::uint64_t> restart_in_ms;
  std::string log;  // a line for the command log; empty: nothing to log
};

// One slot. Times are a monotonic clock in milliseconds. Only the process the machine knows
// of is restarted, and only from kRestart, so a second copy is never started by it: a late or
// repeated timer finds the slot running or already starting and does nothing.
class KeptSlot {
 public:
  explicit KeptSlot(int slot = 0) : slot_(slot) {}

  // The schedule starts over with these settings (program start, Save, the double-click on the
  // uptime figure). A running process, a pending restart and the quick-end streak are kept.
  KeepEffects OnScheduleReset(std::uint64_t now_ms, const LaunchSlot& slot,
                              const RestartSetting& restart);

  // Whether the schedule may start the slot now: not while a kept program runs or is being
  // started. A slot that is not kept starts as it always has.
  bool MayStart() const;

  // How a start (by the schedule or a restart) went. A document the shell opened with a process
  // handed back counts as started with a process; a shell that refused counts as failed. Every
  // process reported started must have its end reported too, or the slot stays "run".
  KeepEffects OnStarted(std::uint64_t now_ms);
  KeepEffects OnOpened(std::uint64_t now_ms);
  KeepEffects OnStartFailed(std::uint64_t now_ms);

  KeepEffects OnEnded(std::uint64_t now_ms, std::uint32_t exit_code);
  // The restart timer fired. A timer that fires early is only armed again for the rest.
  KeepEffects OnRestartDue(std::uint64_t now_ms);
  // A power action was requested or the program ends: nothing is started again from now on.
  KeepEffects OnStopKeeping(std::uint64_t now_ms);

  SlotState State() const { return state_; }

 private:
  bool Kept() const { return restart_ms_.has_value() && !stopped_; }
  KeepEffects Effects(std::uint64_t now_ms) const;
  std::string Name() const;

  int slot_;
  bool has_program_ = false;
  std::optional<std::uint64_t> restart_ms_;
  SlotState state_ = SlotState::kNone;
  bool starting_ = false;  // a restart was ordered; its outcome has not been reported
  int copies_ = 0;         // processes of this slot that have not ended yet
  std::uint64_t started_ms_ = 0;
  std::uint64_t due_ms_ = 0;
  int quick_ends_ = 0;
  bool stopped_ = false;
};

}  // namespace qyr
