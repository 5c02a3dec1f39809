#include "remote/status_reply.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace qyr {

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
std::optional<SlotState> StateOf(std::string_view word) {
  for (int i = 0; i <= static_cast<int>(SlotState::kOpened); ++i) {
    const auto state = static_cast<SlotState>(i);
    if (SlotStateText(state) == word) return state;
  }
  return std::nullopt;
}

bool StartsSomeState(std::string_view part) {
  for (int i = 0; i <= static_cast<int>(SlotState::kOpened); ++i) {
    if (SlotStateText(static_cast<SlotState>(i)).starts_with(part)) return true;
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

constexpr PowerEvent kPowerEvents[] = {PowerEvent::kOff, PowerEvent::kReboot,
                                       PowerEvent::kCancelled, PowerEvent::kFailed};
constexpr std::string_view kPowerKey = "power=";

// "HH:MM:SS", 24-hour, two digits each.
std::optional<int> ParseClock(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  int parts[3] = {};
  const int limits[3] = {23, 59, 59};
  for (int i = 0; i < 3; ++i) {
    const std::string_view two = text.substr(static_cast<std::size_t>(i) * 3, 2);
    if (!AllDigits(two)) return std::nullopt;
    parts[i] = (two[0] - '0') * 10 + (two[1] - '0');
    if (parts[i] > limits[i]) return std::nullopt;
  }
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

// Whether `part` may still grow into a power field: "power=off@09:0" and the like.
bool StartsPowerField(std::string_view part) {
  if (part.size() <= kPowerKey.size()) return kPowerKey.starts_with(part);
  if (!part.starts_with(kPowerKey)) return false;
  const std::string_view value = part.substr(kPowerKey.size());
  const std::size_t at = value.find('@');
  for (const PowerEvent what : kPowerEvents) {
    const std::string_view word = PowerEventText(what);
    if (at == std::string_view::npos) {
      if (word.starts_with(value)) return true;
      continue;
    }
    if (value.substr(0, at) != word) continue;
    // The clock so far, matched against a whole one of the same shape.
    std::string clock(value.substr(at + 1));
    const std::string pattern = "00:00:00";
    if (clock.size() >= pattern.size()) return false;
    for (std::size_t i = 0; i < clock.size(); ++i) {
      if ((pattern[i] == ':') != (clock[i] == ':')) return false;
    }
    clock += pattern.substr(clock.size());
    return ParseClock(clock).has_value();
  }
  return false;
}

std::optional<LastPower> ParsePowerField(std::string_view field) {
  if (!field.starts_with(kPowerKey)) return std::nullopt;
  const std::string_view value = field.substr(kPowerKey.size());
  const std::size_t at = value.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  const std::optional<int> clock = ParseClock(value.substr(at + 1));
  if (!clock) return std::nullopt;
  for (const PowerEvent what : kPowerEvents) {
    if (value.substr(0, at) == PowerEventText(what)) return LastPower{what, *clock};
  }
  return std::nullopt;
}

}  // namespace

std::string_view PowerEventText(PowerEvent what) {
  switch (what) {
    case PowerEvent::kOff:
      return "off";
    case PowerEvent::kReboot:
      return "reboot";
    case PowerEvent::kCancelled:
      return "cancelled";
    case PowerEvent::kFailed:
      return "failed";
  }
  return "off";
}

std::string StatusReply(std::uint64_t uptime_ms,
                        const std::array<std::string_view, kStatusSlots>& states,
                        const std::optional<LastPower>& power) {
  std::string line = StatusReply(uptime_ms, states);
  if (!power) return line;
  const auto two = [](int n) {
    return std::string(1, static_cast<char>('0' + n / 10)) + static_cast<char>('0' + n % 10);
  };
  const int s = power->seconds_of_day;
  return line + " power=" + std::string(PowerEventText(power->what)) + "@" + two(s / 3600) + ":" +
         two(s / 60 % 60) + ":" + two(s % 60);
}

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

  // Field 1 is "up=", 2 to 5 are the slots, 6 the power event when there was one.
  constexpr std::size_t kSlotsEnd = 2 + kStatusSlots;
  for (std::size_t i = 1; i < kSlotsEnd; ++i) {
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
    const std::optional<SlotState> state = StateOf(value);
    if (!state) {
      parse.error = Judge(StatusError::kUnknownState, at_open_end, StartsSomeState(value));
      return parse;
    }
    parse.slots[i - 2] = *state;
  }
  if (last >= kSlotsEnd) {
    const std::string_view field = fields[kSlotsEnd];
    parse.power = ParsePowerField(field);
    if (!parse.power) {
      const bool at_open_end = open_end && last == kSlotsEnd;
      const bool looks_like_power = field.starts_with(kPowerKey) || kPowerKey.starts_with(field);
      parse.error = Judge(looks_like_power ? StatusError::kBadPower : StatusError::kTrailing,
                          at_open_end, StartsPowerField(field));
      return parse;
    }
    if (last > kSlotsEnd) {
      parse.power.reset();
      parse.error = StatusError::kTrailing;
      return parse;
    }
  }
  parse.error = StatusError::kNone;
  return parse;
}

}  // namespace qyr
