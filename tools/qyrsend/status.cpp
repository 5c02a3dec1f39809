#include "status.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace qyrsend {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> Fields(std::string_view bytes) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (IsBlank(bytes[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < bytes.size() && !IsBlank(bytes[i])) ++i;
    fields.push_back(bytes.substr(start, i - start));
  }
  return fields;
}

// The program's own state words, so that the two cannot drift apart (kOpened is its last).
std::optional<qyr::SlotState> StateOf(std::string_view word) {
  for (int i = 0; i <= static_cast<int>(qyr::SlotState::kOpened); ++i) {
    const auto state = static_cast<qyr::SlotState>(i);
    if (qyr::SlotStateText(state) == word) return state;
  }
  return std::nullopt;
}

bool StartsSomeState(std::string_view part) {
  for (int i = 0; i <= static_cast<int>(qyr::SlotState::kOpened); ++i) {
    if (qyr::SlotStateText(static_cast<qyr::SlotState>(i)).starts_with(part)) return true;
  }
  return false;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The error of a field that is wrong as it stands; kCutShort when it is the last, not yet ended
// by a blank, and may still grow into a right one.
StatusError Judge(StatusError error, bool open_end, bool may_grow) {
  return open_end && may_grow ? StatusError::kCutShort : error;
}

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

std::string_view JsonError(Kind kind) {
  switch (kind) {
    case Kind::kStatus:
      return "null";
    case Kind::kTimeout:
      return "\"timeout\"";
    case Kind::kRefused:
      return "\"refused\"";
    case Kind::kRefusedByPc:
      return "\"refused_by_pc\"";
    case Kind::kErr:
      return "\"older_program\"";
    case Kind::kClosed:
      return "\"closed\"";
    case Kind::kCutShort:
      return "\"cut_short\"";
    case Kind::kBadReply:
      return "\"bad_reply\"";
    case Kind::kError:
      break;
  }
  return "\"error\"";
}

// A JSON string: UTF-8 kept, control characters escaped, a byte that is no UTF-8 becomes U+FFFD
// so that the line stays valid JSON whatever a peer sent.
std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.front());
    const std::size_t length = Utf8Length(text);
    if (length == 0) {
      out += "\\ufffd";
      text.remove_prefix(1);
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out + "\"";
}

std::string JsonMs(std::chrono::microseconds round_trip) {
  const auto us = round_trip.count();
  return std::to_string(us / 1000) + "." + std::to_string(us % 1000 / 100);
}

}  // namespace

StatusReplyParse ParseStatusReply(std::string_view bytes) {
  StatusReplyParse parse;
  const std::vector<std::string_view> fields = Fields(bytes);
  if (fields.empty()) {
    parse.error = StatusError::kCutShort;
    return parse;
  }
  const bool open_end = !IsBlank(bytes.back());
  const std::size_t last = fields.size() - 1;

  const std::string_view word = fields[0];
  if (word == "ERR" && fields.size() == 1) {
    parse.error = StatusError::kErr;
    return parse;
  }
  if (word != "OK") {
    const bool grows = last == 0 && (std::string_view("OK").starts_with(word) ||
                                     std::string_view("ERR").starts_with(word));
    parse.error = Judge(StatusError::kNotStatus, open_end, grows);
    return parse;
  }

  // Field 1 is "up=", 2 to 5 are the slots.
  constexpr std::size_t kFieldCount = 2 + qyr::kStatusSlots;
  for (std::size_t i = 1; i < kFieldCount; ++i) {
    if (i > last) {
      parse.error = StatusError::kCutShort;
      return parse;
    }
    const std::string_view field = fields[i];
    const bool at_open_end = open_end && i == last;
    const std::string key = i == 1 ? "up=" : std::to_string(i - 1) + "=";
    if (!field.starts_with(key)) {
      parse.error = Judge(i == 1 ? StatusError::kBadUptime : StatusError::kBadSlot, at_open_end,
                          key.starts_with(field));
      return parse;
    }
    const std::string_view value = field.substr(key.size());
    if (i == 1) {
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parse.up_s);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
        const bool grows = AllDigits(value) && ec != std::errc::result_out_of_range;
        parse.error = Judge(StatusError::kBadUptime, at_open_end, grows);
        return parse;
      }
      continue;
    }
    const std::optional<qyr::SlotState> state = StateOf(value);
    if (!state) {
      parse.error = Judge(StatusError::kUnknownState, at_open_end, StartsSomeState(value));
      return parse;
    }
    parse.slots[i - 2] = *state;
  }
  if (last >= kFieldCount) {
    parse.error = StatusError::kTrailing;
    return parse;
  }
  parse.error = StatusError::kNone;
  return parse;
}

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

std::string StatusJson(const std::vector<Target>& targets, const std::vector<Answer>& answers) {
  std::string out;
  for (std::size_t i = 0; i < targets.size() && i < answers.size(); ++i) {
    const Outcome& outcome = answers[i].outcome;
    const HostView view = ViewOf(outcome);
    const bool ok = view.kind == Kind::kStatus;
    std::string detail = "null";
    if (view.kind == Kind::kCutShort || view.kind == Kind::kBadReply || view.kind == Kind::kError)
      detail = JsonString(outcome.detail);
    std::string slots = "null";
    if (ok) {
      slots = "[";
      for (std::size_t s = 0; s < view.status.slots.size(); ++s) {
        if (s > 0) slots += ',';
        slots += JsonString(qyr::SlotStateText(view.status.slots[s]));
      }
      slots += "]";
    }
    out += "{\"host\":" + JsonString(targets[i].host) +
           ",\"port\":" + std::to_string(targets[i].port) + ",\"ok\":" + (ok ? "true" : "false") +
           ",\"error\":" + std::string(JsonError(view.kind)) + ",\"detail\":" + detail +
           ",\"rtt_ms\":" + (answers[i].round_trip ? JsonMs(*answers[i].round_trip) : "null") +
           ",\"up_s\":" + (ok ? std::to_string(view.status.up_s) : "null") + ",\"slots\":" + slots +
           "}\n";
  }
  return out;
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
