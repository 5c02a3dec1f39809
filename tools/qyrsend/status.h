#pragma once
// --status: what a PC's status reply says, and how a hall's replies are reported, as lines for a
// person or as JSON for a script. No sockets here.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launch/keep_running.h"
#include "remote/protocol.h"
#include "replies.h"

namespace qyrsend {

enum class StatusError {
  kNone,
  kCutShort,      // may still grow into a whole reply
  kErr,           // "ERR": an older program that knows no status query
  kNotStatus,     // neither "OK ..." nor "ERR"
  kBadUptime,     // no "up=<whole seconds>" after "OK"
  kBadSlot,       // a slot missing or out of order
  kUnknownState,  // a slot's state is no state word
  kTrailing,      // more after the fourth slot
};

struct StatusReplyParse {
  StatusError error = StatusError::kNotStatus;
  std::uint64_t up_s = 0;
  std::array<qyr::SlotState, qyr::kStatusSlots> slots{};
};

// "OK up=<seconds> 1=<state> 2=<state> 3=<state> 4=<state>", blanks (space, tab, CR, LF) of any
// length between the fields and around them. The reply has no line end, so it is whole once the
// fourth state word has come.
StatusReplyParse ParseStatusReply(std::string_view bytes);

// The reply rule of --status: "OK" alone is no answer yet.
std::optional<Outcome> ClassifyStatus(std::string_view bytes);

// The lines of --status: one per host in the order given, then the summary.
std::string StatusReport(const std::vector<Target>& targets, const std::vector<Answer>& answers);

// --status --json: one object per host and line, no summary.
std::string StatusJson(const std::vector<Target>& targets, const std::vector<Answer>& answers);

// 0: every host answered with its status and no slot failed; 1 otherwise.
int StatusExitCode(const std::vector<Answer>& answers);

}  // namespace qyrsend
