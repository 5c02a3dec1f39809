#include "status.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace qyrsend {

using qyr::ParseStatusReply;
using qyr::StatusError;
using qyr::StatusReplyParse;

namespace {

enum class Kind {
  kStatus,
  kTimeout,
  kRefused,
  kRefusedByPc,
  kErr,
  kClosed,
  kCutShort,
  kBadReply,
  kError
};

struct HostView {
  Kind kind = Kind::kError;
  StatusReplyParse status;
};

HostView ViewOf(const Outcome& outcome) {
  switch (outcome.verdict) {
    case Verdict::Ok: {
      const StatusReplyParse parse = ParseStatusReply(outcome.detail);
      return {parse.error == StatusError::kNone ? Kind::kStatus : Kind::kBadReply, parse};
    }
    case Verdict::Err:
      return {Kind::kErr, {}};
    case Verdict::Unexpected:
      return {ParseStatusReply(outcome.detail).error == StatusError::kCutShort ? Kind::kCutShort
                                                                               : Kind::kBadReply,
              {}};
    case Verdict::Timeout:
      return {outcome.detail.empty() ? Kind::kTimeout : Kind::kCutShort, {}};
    case Verdict::Refused:
      return {Kind::kRefused, {}};
    case Verdict::RefusedByPc:
      return {Kind::kRefusedByPc, {}};
    case Verdict::Closed:
      return {Kind::kClosed, {}};
    case Verdict::NoReply:
    case Verdict::Error:
      break;
  }
  return {Kind::kError, {}};
}

bool NotAnswering(Kind kind) {
  return kind == Kind::kTimeout || kind == Kind::kRefused || kind == Kind::kRefusedByPc ||
         kind == Kind::kClosed || kind == Kind::kError;
}

std::string RoundTripText(std::chrono::microseconds round_trip) {
  const auto ms = round_trip.count() / 1000;
  return ms < 1 ? "<1 ms" : std::to_string(ms) + " ms";
}

// "3:05:12", "2d 4:46:40".
std::string UpText(std::uint64_t seconds) {
  const auto two = [](std::uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  const std::uint64_t days = seconds / 86400;
  std::string out;
  if (days > 0) out += std::to_string(days) + "d ";
  return out + std::to_string(seconds / 3600 % 24) + ":" + two(seconds / 60 % 60) + ":" +
         two(seconds % 60);
}

std::string SlotsText(const StatusReplyParse& status) {
  std::string out;
  for (std::size_t i = 0; i < status.slots.size(); ++i) {
    if (i > 0) out += ' ';
    out += std::to_string(i + 1) + "=" + std::string(qyr::SlotStateText(status.slots[i]));
  }
  return out;
}

std::string Describe(Kind kind, const Outcome& outcome) {
  switch (kind) {
    case Kind::kTimeout:
      return "timeout";
    case Kind::kRefused:
      return "refused";
    case Kind::kRefusedByPc:
      return "refused by the PC";
    case Kind::kErr:
      return "ERR: older program, no status";
    case Kind::kClosed:
      return "closed without reply";
    case Kind::kCutShort:
      return "reply cut short \"" + Printable(outcome.detail) + "\"";
    case Kind::kBadReply:
      return "bad reply \"" + Printable(outcome.detail) + "\"";
    case Kind::kStatus:
    case Kind::kError:
      break;
  }
  return "error: " + outcome.detail;
}

// The "error" word of a host that gave no status; none for one that did.
nlohmann::ordered_json ErrorWord(Kind kind) {
  switch (kind) {
    case Kind::kStatus:
      return nullptr;
    case Kind::kTimeout:
      return "timeout";
    case Kind::kRefused:
      return "refused";
    case Kind::kRefusedByPc:
      return "refused_by_pc";
    case Kind::kErr:
      return "older_program";
    case Kind::kClosed:
      return "closed";
    case Kind::kCutShort:
      return "cut_short";
    case Kind::kBadReply:
      return "bad_reply";
    case Kind::kError:
      break;
  }
  return "error";
}

}  // namespace

std::optional<Outcome> ClassifyStatus(std::string_view bytes) {
  switch (ParseStatusReply(bytes).error) {
    case StatusError::kNone:
      return Outcome{Verdict::Ok, std::string(bytes)};
    case StatusError::kCutShort:
      return std::nullopt;
    case StatusError::kErr:
      return Outcome{Verdict::Err, {}};
    default:
      return Outcome{Verdict::Unexpected, std::string(bytes)};
  }
}

std::string StatusReport(const std::vector<Target>& targets, const std::vector<Answer>& answers) {
  const std::size_t count = std::min(targets.size(), answers.size());
  std::vector<HostView> views;
  std::size_t label_width = 0;
  std::size_t trip_width = 0;
  std::size_t up_width = 0;
  for (std::size_t i = 0; i < count; ++i) {
    views.push_back(ViewOf(answers[i].outcome));
    label_width = std::max(label_width, targets[i].label.size());
    if (views.back().kind != Kind::kStatus) continue;
    trip_width =
        std::max(trip_width,
                 RoundTripText(answers[i].round_trip.value_or(std::chrono::microseconds{})).size());
    up_width = std::max(up_width, UpText(views.back().status.up_s).size());
  }

  std::string out;
  int up = 0;
  int running = 0;
  int silent = 0;
  int without_status = 0;
  int failed = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const HostView& view = views[i];
    out += targets[i].label;
    out.append(label_width - targets[i].label.size() + 2, ' ');
    if (view.kind == Kind::kStatus) {
      ++up;
      for (const qyr::SlotState state : view.status.slots) {
        running += state == qyr::SlotState::kRun ? 1 : 0;
        failed += state == qyr::SlotState::kFailed ? 1 : 0;
      }
      // Numbers right-aligned, so that a hall's column reads at a glance.
      const std::string trip =
          RoundTripText(answers[i].round_trip.value_or(std::chrono::microseconds{}));
      const std::string up_text = UpText(view.status.up_s);
      out.append(trip_width - trip.size(), ' ');
      out += trip + "  ";
      out += "up ";
      out.append(up_width - up_text.size(), ' ');
      out += up_text + "  " + SlotsText(view.status);
    } else {
      silent += NotAnswering(view.kind) ? 1 : 0;
      without_status += NotAnswering(view.kind) ? 0 : 1;
      out += Describe(view.kind, answers[i].outcome);
    }
    out += '\n';
  }
  out += std::to_string(count) + (count == 1 ? " host: " : " hosts: ") + std::to_string(up) +
         " up, " + std::to_string(running) + (running == 1 ? " program" : " programs") +
         " running, " + std::to_string(silent) + " not answering";
  if (without_status > 0) out += ", " + std::to_string(without_status) + " without status";
  if (failed > 0) out += ", " + std::to_string(failed) + " failed to start";
  return out + '\n';
}

nlohmann::ordered_json StatusFields(const Target& target, const std::optional<Answer>& answer) {
  using Json = nlohmann::ordered_json;
  const HostView view = answer ? ViewOf(answer->outcome) : HostView{Kind::kError, {}};
  const bool ok = answer && view.kind == Kind::kStatus;
  Json detail = nullptr;
  if (answer &&
      (view.kind == Kind::kCutShort || view.kind == Kind::kBadReply || view.kind == Kind::kError))
    detail = answer->outcome.detail;
  Json slots = nullptr;
  if (ok) {
    slots = Json::array();
    for (const qyr::SlotState state : view.status.slots) slots.push_back(qyr::SlotStateText(state));
  }
  Json rtt_ms = nullptr;
  // Tenths of a millisecond, cut rather than rounded, as the lines have always shown them.
  if (answer && answer->round_trip)
    rtt_ms = static_cast<double>(answer->round_trip->count() / 100) / 10.0;
  return {{"host", target.host},
          {"port", target.port},
          {"ok", ok},
          {"error", answer ? ErrorWord(view.kind) : Json(nullptr)},
          {"detail", detail},
          {"rtt_ms", rtt_ms},
          {"up_s", ok ? Json(view.status.up_s) : Json(nullptr)},
          {"slots", slots}};
}

int StatusExitCode(const std::vector<Answer>& answers) {
  for (const Answer& answer : answers) {
    const HostView view = ViewOf(answer.outcome);
    if (view.kind != Kind::kStatus) return 1;
    for (const qyr::SlotState state : view.status.slots) {
      if (state == qyr::SlotState::kFailed) return 1;
    }
  }
  return 0;
}

}  // namespace qyrsend
