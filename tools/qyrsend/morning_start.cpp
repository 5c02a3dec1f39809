#include "morning_start.h"

#include <algorithm>

namespace qyrsend {

std::string_view StartStepText(StartStep step) {
  switch (step) {
    case StartStep::kQueued:
      return "queued";
    case StartStep::kWaking:
      return "waking";
    case StartStep::kAnswering:
      return "answering";
    case StartStep::kProgramsRunning:
      return "programs_running";
    case StartStep::kReady:
      return "ready";
    case StartStep::kFailed:
      return "failed";
  }
  return "queued";
}

std::string_view StartFailureText(StartFailure failure) {
  switch (failure) {
    case StartFailure::kNone:
      return "";
    case StartFailure::kNeverAnswered:
      return "never_answered";
    case StartFailure::kNoMac:
      return "no_mac";
    case StartFailure::kProgramFailed:
      return "program_failed";
    case StartFailure::kProgramsLate:
      return "programs_late";
    case StartFailure::kOlderProgram:
      return "older_program";
    case StartFailure::kAllowList:
      return "allow_list";
    case StartFailure::kNotStatus:
      return "not_status";
  }
  return "";
}

std::string StartChangeText(const StartChange& change) {
  std::string text(StartStepText(change.step));
  std::replace(text.begin(), text.end(), '_', ' ');
  if (change.step != StartStep::kFailed) return text;
  const std::string program = "program " + std::to_string(change.slot) + " " +
                              std::string(qyr::SlotStateText(change.slot_state));
  switch (change.failure) {
    case StartFailure::kNeverAnswered:
      return text + ": never answered";
    case StartFailure::kNoMac:
      return text + ": never answered (no MAC to wake it)";
    case StartFailure::kProgramFailed:
      return text + ": answers but " + program;
    case StartFailure::kProgramsLate:
      return text + ": answers but program " + std::to_string(change.slot) + " is still " +
             std::string(qyr::SlotStateText(change.slot_state));
    case StartFailure::kOlderProgram:
      return text + ": answers ERR (an older QyrDelay without status)";
    case StartFailure::kAllowList:
      return text + ": refused by its allow-list";
    case StartFailure::kNotStatus:
      return text + ": a reply that is not a status line";
    case StartFailure::kNone:
      break;
  }
  return text;
}

namespace {

bool Finished(StartStep step) { return step == StartStep::kReady || step == StartStep::kFailed; }

bool Running(qyr::SlotState state) {
  return state == qyr::SlotState::kRun || state == qyr::SlotState::kOpened;
}

}  // namespace

MorningStart::MorningStart(const std::vector<std::vector<StartPcInput>>& zones,
                           StartSettings settings)
    : settings_(settings) {
  for (const auto& zone : zones) {
    std::vector<std::size_t>& indices = zones_.emplace_back();
    for (const StartPcInput& input : zone) {
      Pc pc;
      pc.has_mac = input.has_mac;
      pc.zone = zones_.size() - 1;
      pc.shown.pc = pcs_.size();
      indices.push_back(pcs_.size());
      pcs_.push_back(pc);
    }
  }
}

void MorningStart::Move(std::size_t pc, StartChange change, StartEffects& effects) {
  change.pc = pc;
  const StartChange& shown = pcs_[pc].shown;
  if (shown.step == change.step && shown.failure == change.failure && shown.slot == change.slot)
    return;
  pcs_[pc].shown = change;
  effects.changes.push_back(change);
}

StartEffects MorningStart::OnTick(std::int64_t now_ms) {
  StartEffects effects;
  const std::int64_t rewake_ms = std::int64_t{settings_.rewake_s} * 1000;

  // The next batch of the zone under way; an empty zone costs no gap.
  while (zone_ < zones_.size() && next_ >= zones_[zone_].size()) {
    ++zone_;
    next_ = 0;
  }
  if (zone_ < zones_.size() && now_ms >= next_batch_ms_) {
    const std::vector<std::size_t>& zone = zones_[zone_];
    const std::size_t end =
        std::min(zone.size(), next_ + static_cast<std::size_t>(std::max(1, settings_.wake_batch)));
    for (; next_ < end; ++next_) {
      const std::size_t i = zone[next_];
      Pc& pc = pcs_[i];
      pc.first_wake_ms = pc.last_wake_ms = now_ms;
      if (pc.has_mac) {
        pc.tries = 1;
        effects.wake.push_back(i);
      }
      Move(i, {i, StartStep::kWaking}, effects);
    }
    next_batch_ms_ = now_ms + 1000;
    if (next_ >= zone.size()) next_batch_ms_ = now_ms + std::int64_t{settings_.zone_gap_s} * 1000;
    if (!next_ask_ms_) next_ask_ms_ = now_ms;
  }

  bool asking = next_ask_ms_ && now_ms >= *next_ask_ms_;
  for (std::size_t i = 0; i < pcs_.size(); ++i) {
    Pc& pc = pcs_[i];
    const StartStep step = pc.shown.step;
    if (step == StartStep::kQueued || Finished(step)) continue;
    if (step == StartStep::kWaking) {
      // Each try gets its 15 s; the last one's end is the end of the PC.
      if (now_ms - pc.last_wake_ms >= rewake_ms) {
        if (pc.has_mac && pc.tries < settings_.wake_tries) {
          ++pc.tries;
          pc.last_wake_ms = now_ms;
          effects.wake.push_back(i);
        } else if (!pc.has_mac &&
                   now_ms - pc.first_wake_ms < std::int64_t{settings_.wake_tries} * rewake_ms) {
          // Nothing to send; it may still come up by itself.
        } else {
          Move(i,
               {i, StartStep::kFailed,
                pc.has_mac ? StartFailure::kNeverAnswered : StartFailure::kNoMac},
               effects);
          continue;
        }
      }
    } else if (pc.first_answer_ms &&
               now_ms - *pc.first_answer_ms >= std::int64_t{settings_.programs_s} * 1000) {
      StartChange late = pc.shown;
      late.step = StartStep::kFailed;
      late.failure = StartFailure::kProgramsLate;
      Move(i, late, effects);
      continue;
    }
    if (asking) effects.ask.push_back(i);
  }
  if (asking) next_ask_ms_ = now_ms + std::int64_t{settings_.ask_every_s} * 1000;
  return effects;
}

StartEffects MorningStart::OnAnswer(std::size_t i, const AnswerView& answer, std::int64_t now_ms) {
  StartEffects effects;
  if (i >= pcs_.size()) return effects;
  Pc& pc = pcs_[i];
  if (pc.shown.step == StartStep::kQueued || Finished(pc.shown.step)) return effects;
  switch (answer.reason) {
    case DownReason::kNoAnswer:
    case DownReason::kRefused:  // up, but its QyrDelay not yet
    case DownReason::kError:
      return effects;
    case DownReason::kErr:
      Move(i, {i, StartStep::kFailed, StartFailure::kOlderProgram}, effects);
      return effects;
    case DownReason::kAllowList:
      Move(i, {i, StartStep::kFailed, StartFailure::kAllowList}, effects);
      return effects;
    case DownReason::kNotStatus:
      Move(i, {i, StartStep::kFailed, StartFailure::kNotStatus}, effects);
      return effects;
    case DownReason::kNone:
      break;
  }
  if (!pc.first_answer_ms) pc.first_answer_ms = now_ms;
  int configured = 0;
  int running = 0;
  StartChange change{i, StartStep::kAnswering};
  for (std::size_t s = 0; s < answer.status.slots.size(); ++s) {
    const qyr::SlotState state = answer.status.slots[s];
    if (state == qyr::SlotState::kNone) continue;
    ++configured;
    running += Running(state);
    if (state == qyr::SlotState::kFailed || state == qyr::SlotState::kEnded) {
      Move(i, {i, StartStep::kFailed, StartFailure::kProgramFailed, static_cast<int>(s) + 1, state},
           effects);
      return effects;
    }
    // The first program not yet running is the one a late start names.
    if (!Running(state) && change.slot == 0) {
      change.slot = static_cast<int>(s) + 1;
      change.slot_state = state;
    }
  }
  if (running == configured) {
    change = {i, StartStep::kReady};
    pc.ready_ms = now_ms;
  } else if (running > 0) {
    change.step = StartStep::kProgramsRunning;
  }
  Move(i, change, effects);
  return effects;
}

bool MorningStart::Done() const {
  return std::all_of(pcs_.begin(), pcs_.end(),
                     [](const Pc& pc) { return Finished(pc.shown.step); });
}

bool MorningStart::AllReady() const {
  return std::all_of(pcs_.begin(), pcs_.end(),
                     [](const Pc& pc) { return pc.shown.step == StartStep::kReady; });
}

std::optional<std::int64_t> MorningStart::ReadyAt() const {
  if (!AllReady()) return std::nullopt;
  std::int64_t at = 0;
  for (const Pc& pc : pcs_) at = std::max(at, pc.ready_ms);
  return at;
}

}  // namespace qyrsend
