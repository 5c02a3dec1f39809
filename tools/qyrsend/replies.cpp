#include "replies.h"

#include <algorithm>

#include "remote/protocol.h"
#include "remote/status_reply.h"

namespace qyrsend {

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

namespace {

std::string Describe(const Outcome& outcome) {
  switch (outcome.verdict) {
    case Verdict::Ok:
      return outcome.detail.empty() ? "OK" : Printable(outcome.detail);
    case Verdict::Err:
      return outcome.detail.empty() ? "ERR" : "ERR " + outcome.detail;
    case Verdict::Unexpected:
      return "reply \"" + Printable(outcome.detail) + "\"";
    case Verdict::Closed:
      return "closed without reply";
    case Verdict::NoReply:
      return "no reply (UDP)";
    case Verdict::Timeout:
      return "timeout";
    case Verdict::Refused:
      return "refused";
    case Verdict::RefusedByPc:
      return "refused by the PC";
    case Verdict::Error:
      return "error: " + outcome.detail;
  }
  return "error";
}

}  // namespace

std::optional<Outcome> ClassifyReply(std::string_view bytes) {
  if (bytes == "OK") return Outcome{Verdict::Ok, {}};
  if (bytes == "ERR") return Outcome{Verdict::Err, {}};
  // A reply split across two reads: wait for the rest.
  if (!bytes.empty() &&
      (std::string_view("OK").starts_with(bytes) || std::string_view("ERR").starts_with(bytes)))
    return std::nullopt;
  return Outcome{Verdict::Unexpected, std::string(bytes)};
}

std::optional<Outcome> ClassifyStatusQueryReply(std::string_view bytes) {
  if (!bytes.starts_with("OK ")) return ClassifyReply(bytes);
  if (qyr::ParseStatusReply(bytes).error == qyr::StatusError::kCutShort) return std::nullopt;
  return Outcome{Verdict::Ok, std::string(bytes)};
}

ReplyRule RuleFor(std::string_view command) {
  // The program's own matcher: a message that also holds an older word gets the plain OK.
  return qyr::MatchCommand(command) == qyr::Command::kStatus ? ClassifyStatusQueryReply
                                                             : ClassifyReply;
}

std::string Report(const std::vector<Target>& targets, const std::vector<Outcome>& outcomes) {
  std::size_t width = 0;
  for (const Target& t : targets) width = std::max(width, t.label.size());
  std::string out;
  for (std::size_t i = 0; i < targets.size() && i < outcomes.size(); ++i) {
    out += targets[i].label;
    out.append(width - targets[i].label.size() + 2, ' ');
    out += Describe(outcomes[i]);
    out += '\n';
  }
  return out;
}

int ExitCode(const std::vector<Outcome>& outcomes) {
  bool unconfirmed = false;
  for (const Outcome& o : outcomes) {
    if (o.verdict == Verdict::NoReply) {
      unconfirmed = true;
    } else if (o.verdict != Verdict::Ok) {
      return 1;
    }
  }
  return unconfirmed ? 3 : 0;
}

}  // namespace qyrsend
