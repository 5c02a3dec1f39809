#include "launch/keep_running.h"

#include <algorithm>
#include <array>

#include "base/int_rules.h"

namespace qyr {

namespace {

// The wait before the next start after `quick_ends` quick ends in a row. A back-off is never
// shorter than the wait the user asked for.
std::uint64_t RestartWaitMs(int quick_ends, std::uint64_t asked_ms) {
  if (quick_ends < kQuickEndsBeforeBackOff) return asked_ms;
  const std::uint64_t back_off =
      quick_ends == kQuickEndsBeforeBackOff ? kFirstBackOffMs : kLongBackOffMs;
  return std::max(back_off, asked_ms);
}

// Windows exit codes with the top bit set are status codes, known by their hex form.
std::string ExitCodeText(std::uint32_t code) {
  if (code < 0x80000000u) return std::to_string(code);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kHex[(code >> shift) & 0xF]);
  return text;
}

}  // namespace

std::string RestartKey(int slot) { return "Restart" + std::to_string(slot); }

RestartSetting ParseRestart(std::string_view text) {
  if (text.empty()) return {};
  const IntParse parsed = ParseInteger(text);
  if (!parsed.ok()) return {std::nullopt, RestartError::kNotInteger};
  if (parsed.value < 0) return {std::nullopt, RestartError::kNegative};
  if (parsed.value == 0) return {};
  return {parsed.value, RestartError::kNone};
}

std::string_view SlotStateText(SlotState state) {
  static constexpr std::array<std::string_view, 7> kTexts = {"none",    "wait",   "run",   "ended",
                                                             "restart", "failed", "opened"};
  return kTexts.at(static_cast<std::size_t>(state));
}

std::string KeptSlot::Name() const { return "slot " + std::to_string(slot_ + 1); }

KeepEffects KeptSlot::Effects(std::uint64_t now_ms) const {
  KeepEffects effects;
  effects.state = state_;
  if (state_ == SlotState::kRestart && !starting_) {
    effects.restart_in_ms = due_ms_ > now_ms ? due_ms_ - now_ms : 0;
  }
  return effects;
}

KeepEffects KeptSlot::OnScheduleReset(std::uint64_t now_ms, const LaunchSlot& slot,
                                      const RestartSetting& restart) {
  has_program_ = ShownInRow(slot);
  restart_ms_.reset();
  if (restart.seconds) restart_ms_ = static_cast<std::uint64_t>(*restart.seconds) * 1000;
  const bool pending = state_ == SlotState::kRestart && has_program_ && Kept();
  if (copies_ == 0 && !starting_ && !pending) {
    state_ = has_program_ ? SlotState::kWait : SlotState::kNone;
  }
  return Effects(now_ms);
}

bool KeptSlot::MayStart() const { return !(restart_ms_.has_value() && (copies_ > 0 || starting_)); }

KeepEffects KeptSlot::OnStarted(std::uint64_t now_ms) {
  starting_ = false;
  if (!has_program_) return Effects(now_ms);
  ++copies_;
  started_ms_ = now_ms;
  state_ = SlotState::kRun;
  return Effects(now_ms);
}

KeepEffects KeptSlot::OnOpened(std::uint64_t now_ms) {
  starting_ = false;
  if (has_program_ && copies_ == 0) state_ = SlotState::kOpened;
  return Effects(now_ms);
}

KeepEffects KeptSlot::OnStartFailed(std::uint64_t now_ms) {
  const bool restarting = starting_;
  starting_ = false;
  if (has_program_ && copies_ == 0) state_ = SlotState::kFailed;
  KeepEffects effects = Effects(now_ms);
  if (restarting) effects.log = Name() + " could not be started again";
  return effects;
}

KeepEffects KeptSlot::OnEnded(std::uint64_t now_ms, std::uint32_t exit_code) {
  // An end the machine never saw start, or of a copy while another still runs, decides nothing.
  if (copies_ == 0 || --copies_ > 0) return Effects(now_ms);
  const bool quick = now_ms < started_ms_ || now_ms - started_ms_ < kQuickRunMs;
  quick_ends_ = quick ? quick_ends_ + 1 : 0;
  const std::string ended = Name() + " ended (exit code " + ExitCodeText(exit_code) + ")";
  if (!has_program_) {
    state_ = SlotState::kNone;
    return Effects(now_ms);
  }
  if (!Kept()) {
    state_ = SlotState::kEnded;
    KeepEffects effects = Effects(now_ms);
    if (restart_ms_) effects.log = ended + ", not started again";
    return effects;
  }
  const std::uint64_t wait = RestartWaitMs(quick_ends_, *restart_ms_);
  state_ = SlotState::kRestart;
  due_ms_ = now_ms + std::min(wait, ~std::uint64_t{0} - now_ms);
  KeepEffects effects = Effects(now_ms);
  effects.log = ended + ", started again in " + std::to_string(wait / 1000) + " s";
  return effects;
}

KeepEffects KeptSlot::OnRestartDue(std::uint64_t now_ms) {
  if (state_ != SlotState::kRestart || starting_ || now_ms < due_ms_) return Effects(now_ms);
  starting_ = true;
  KeepEffects effects = Effects(now_ms);
  effects.start = true;
  return effects;
}

KeepEffects KeptSlot::OnStopKeeping(std::uint64_t now_ms) {
  stopped_ = true;
  const bool pending = state_ == SlotState::kRestart && !starting_;
  if (pending) state_ = SlotState::kEnded;
  KeepEffects effects = Effects(now_ms);
  if (pending) effects.log = Name() + " not started again";
  return effects;
}

}  // namespace qyr
