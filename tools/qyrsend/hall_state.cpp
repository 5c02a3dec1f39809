#include "hall_state.h"

#include <ctime>

namespace qyrsend {

std::string_view PcStateText(PcState state) {
  switch (state) {
    case PcState::kUnknown:
      return "unknown";
    case PcState::kUp:
      return "up";
    case PcState::kDown:
      return "down";
    case PcState::kWaking:
      return "waking";
    case PcState::kPoweringOff:
      return "powering_off";
    case PcState::kCountingDown:
      return "counting_down";
    case PcState::kCancelled:
      return "cancelled";
  }
  return "unknown";
}

std::string_view DownReasonText(DownReason reason) {
  switch (reason) {
    case DownReason::kNone:
      return "";
    case DownReason::kNoAnswer:
      return "no_answer";
    case DownReason::kRefused:
      return "refused";
    case DownReason::kAllowList:
      return "allow_list";
    case DownReason::kErr:
      return "older_program";
    case DownReason::kNotStatus:
      return "not_status";
    case DownReason::kError:
      return "error";
  }
  return "";
}

AnswerView ViewAnswer(const Outcome& outcome) {
  AnswerView view;
  switch (outcome.verdict) {
    case Verdict::Ok:
      view.status = qyr::ParseStatusReply(outcome.detail);
      view.reason =
          view.status.error == qyr::StatusError::kNone ? DownReason::kNone : DownReason::kNotStatus;
      break;
    case Verdict::Err:
      view.reason = DownReason::kErr;
      break;
    case Verdict::Unexpected:
      view.reason = DownReason::kNotStatus;
      break;
    case Verdict::Timeout:
      // A line that stopped halfway is a reply, and not a status one.
      view.reason = outcome.detail.empty() ? DownReason::kNoAnswer : DownReason::kNotStatus;
      break;
    case Verdict::Refused:
      view.reason = DownReason::kRefused;
      break;
    case Verdict::Closed:
    case Verdict::RefusedByPc:
      view.reason = DownReason::kAllowList;
      break;
    case Verdict::NoReply:
    case Verdict::Error:
      view.reason = DownReason::kError;
      break;
  }
  if (view.reason == DownReason::kNotStatus || view.reason == DownReason::kError)
    view.detail = outcome.detail;
  return view;
}

std::optional<Outcome> ClassifyStatusReply(std::string_view bytes) {
  switch (qyr::ParseStatusReply(bytes).error) {
    case qyr::StatusError::kNone:
      return Outcome{Verdict::Ok, std::string(bytes)};
    case qyr::StatusError::kCutShort:
      return std::nullopt;
    case qyr::StatusError::kErr:
      return Outcome{Verdict::Err, {}};
    default:
      return Outcome{Verdict::Unexpected, std::string(bytes)};
  }
}

void PcTracker::OnAnswer(const Answer& answer, std::int64_t now_ms) {
  const AnswerView view = ViewAnswer(answer.outcome);
  const std::int64_t pending_for = now_ms - pending_since_ms_;
  if (view.reason == DownReason::kNone) {
    status_.reason = DownReason::kNone;
    status_.detail.clear();
    status_.up_s = view.status.up_s;
    status_.slots = view.status.slots;
    status_.power = view.status.power;
    status_.rtt_us = answer.round_trip ? std::optional(answer.round_trip->count()) : std::nullopt;
    status_.last_seen_ms = now_ms;
    status_.no_answer_since_ms.reset();
    const auto event = view.status.power ? std::optional(view.status.power->what) : std::nullopt;
    if (event == qyr::PowerEvent::kOff || event == qyr::PowerEvent::kReboot) {
      status_.state = PcState::kCountingDown;
    } else if (pending_ == Pending::kPower && event == qyr::PowerEvent::kCancelled) {
      status_.state = PcState::kCancelled;
    } else if (pending_ == Pending::kPower && !event && pending_for < kPowerWindowMs) {
      status_.state = PcState::kPoweringOff;  // an older QyrDelay reports no power event
    } else {
      status_.state = PcState::kUp;
      pending_ = Pending::kNone;
    }
    return;
  }

  status_.reason = view.reason;
  status_.detail = view.detail;
  status_.rtt_us.reset();
  if (!status_.no_answer_since_ms)
    status_.no_answer_since_ms = status_.last_seen_ms.value_or(now_ms);
  const bool silent = view.reason == DownReason::kNoAnswer || view.reason == DownReason::kRefused;
  if (pending_ == Pending::kWake && silent && pending_for < kWakeWindowMs) {
    status_.state = PcState::kWaking;
    return;
  }
  // A PC told to power off that stops answering has done what it was told.
  pending_ = Pending::kNone;
  status_.state = PcState::kDown;
}

void PcTracker::OnWakeSent(std::int64_t now_ms) {
  pending_ = Pending::kWake;
  pending_since_ms_ = now_ms;
  if (status_.state != PcState::kUp) status_.state = PcState::kWaking;
}

void PcTracker::OnPowerSent(const Outcome& reply, std::int64_t now_ms) {
  if (reply.verdict != Verdict::Ok) return;
  pending_ = Pending::kPower;
  pending_since_ms_ = now_ms;
  status_.state = PcState::kPoweringOff;
}

HallSummary Summarize(const std::vector<PcStatus>& statuses) {
  HallSummary summary;
  for (const PcStatus& s : statuses) {
    ++summary.pcs;
    if (s.state == PcState::kUnknown) {
      ++summary.unknown;
    } else if (s.reason == DownReason::kNone && s.slots) {
      ++summary.up;
      for (const qyr::SlotState slot : *s.slots)
        summary.programs_running += slot == qyr::SlotState::kRun;
    } else {
      ++summary.down;
    }
  }
  return summary;
}

std::string ClockText(std::int64_t wall_ms) {
  const std::time_t seconds = static_cast<std::time_t>(wall_ms / 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[16];
  std::strftime(text, sizeof(text), "%H:%M:%S", &local);
  return text;
}

}  // namespace qyrsend
