#pragma once
// The reader of the status reply that StatusReply (protocol.h) writes, for qyrsend, the hall
// page and the benchmark alike.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "launch/keep_running.h"
#include "remote/protocol.h"

namespace qyr {

enum class StatusError {
  kNone,
  kCutShort,      // may still grow into a whole reply
  kErr,           // "ERR": an older program that knows no status query
  kNotStatus,     // neither "OK ..." nor "ERR"
  kBadUptime,     // no "up=<whole seconds>" after "OK"
  kBadSlot,       // a slot missing or out of order
  kUnknownState,  // a slot's state is no state word
  kBadPower,      // a "power=" field that is not "<what>@HH:MM:SS"
  kTrailing,      // more after the fourth slot and the power field
};

// The last power event since the program started, as the PC's own clock saw it.
enum class PowerEvent {
  kOff,        // a power-off countdown was armed
  kReboot,     // a restart countdown was armed
  kCancelled,  // a countdown was cancelled at the PC
  kFailed,     // the system refused the power request
};

struct LastPower {
  PowerEvent what = PowerEvent::kOff;
  int seconds_of_day = 0;  // local time of the PC
};

// "off", "reboot", "cancelled", "failed".
std::string_view PowerEventText(PowerEvent what);

struct StatusReplyParse {
  StatusError error = StatusError::kNotStatus;
  std::uint64_t up_s = 0;
  std::array<SlotState, kStatusSlots> slots{};
  std::optional<LastPower> power;  // none: no power event since the program started
};

// The reply with the last power event after the slots (" power=cancelled@10:31:58"); without one
// it is StatusReply's.
std::string StatusReply(std::uint64_t uptime_ms,
                        const std::array<std::string_view, kStatusSlots>& states,
                        const std::optional<LastPower>& power);

// "OK up=<seconds> 1=<state> 2=<state> 3=<state> 4=<state>", optionally followed by
// "power=<what>@<HH:MM:SS>"; blanks (space, tab, CR, LF) of any length between the fields and
// around them. The reply has no line end and goes out in one send, so it is taken whole once
// the fourth state word (or the power field after it) has come.
StatusReplyParse ParseStatusReply(std::string_view bytes);

}  // namespace qyr
