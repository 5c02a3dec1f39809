#include "hall_api.h"

#include <algorithm>
#include <ctime>

namespace qyrsend {

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;  // the token's length is no secret
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool TokenGate::Locked(const std::string& address, std::int64_t now_ms) {
  const auto locked = locked_until_.find(address);
  if (locked == locked_until_.end()) return false;
  if (now_ms < locked->second) return true;
  locked_until_.erase(locked);
  return false;
}

Access TokenGate::Check(const std::string& address, std::optional<std::string_view> presented,
                        std::optional<std::string_view> session, std::int64_t now_ms) {
  if (Locked(address, now_ms)) return Access::kTooMany;
  if (presented && SameSecret(*presented, token_)) return Access::kAllowed;
  if (!presented && session && sessions_.contains(std::string(*session))) return Access::kAllowed;
  // Only a token tried counts against the address: a stale cookie is no guess.
  if (!presented) return Access::kUnauthorized;
  std::vector<std::int64_t>& tries = wrong_[address];
  std::erase_if(tries, [&](std::int64_t at) { return now_ms - at >= 60 * 1000; });
  tries.push_back(now_ms);
  if (static_cast<int>(tries.size()) > kWrongTriesAllowed) {
    tries.clear();
    locked_until_[address] = now_ms + kLockOutMs;
    return Access::kTooMany;
  }
  return Access::kUnauthorized;
}

std::optional<std::string_view> BearerToken(std::string_view authorization) {
  constexpr std::string_view kScheme = "Bearer ";
  if (!authorization.starts_with(kScheme)) return std::nullopt;
  std::string_view token = authorization.substr(kScheme.size());
  while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return token;
}

std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    std::string_view pair = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
  }
  return std::nullopt;
}

bool SameOrigin(std::optional<std::string_view> origin, std::string_view host) {
  if (!origin) return true;
  return !host.empty() && *origin == "http://" + std::string(host);
}

std::string_view ActionText(ActionKind kind) {
  switch (kind) {
    case ActionKind::kCheck:
      return "check";
    case ActionKind::kWake:
      return "wake";
    case ActionKind::kOff:
      return "off";
    case ActionKind::kReboot:
      return "reboot";
    case ActionKind::kStart:
      return "start";
  }
  return "check";
}

RequestCheck ParseActionRequest(std::string_view body, const Hall& hall) {
  if (body.size() > kMaxBodyBytes) return {std::nullopt, "the body is over 64 KB"};
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded()) return {std::nullopt, "the body is not valid JSON"};
  if (!json.is_object()) return {std::nullopt, "the body is not a JSON object"};
  ActionRequest request;
  const auto action = json.find("action");
  if (action == json.end() || !action->is_string())
    return {std::nullopt, "no action (check, wake, off, reboot or start)"};
  const std::string word = action->get<std::string>();
  bool known = false;
  for (const ActionKind kind : {ActionKind::kCheck, ActionKind::kWake, ActionKind::kOff,
                                ActionKind::kReboot, ActionKind::kStart}) {
    if (ActionText(kind) == word) {
      request.kind = kind;
      known = true;
    }
  }
  if (!known)
    return {std::nullopt, "unknown action \"" + word + "\" (check, wake, off, reboot or start)"};

  const auto zone = json.find("zone");
  const auto hosts = json.find("hosts");
  if (zone != json.end() && hosts != json.end()) return {std::nullopt, "a zone or hosts, not both"};
  if (zone != json.end()) {
    if (!zone->is_string()) return {std::nullopt, "zone is the name of a zone"};
    const std::string name = zone->get<std::string>();
    const auto pcs = ZonePcs(hall, name);
    if (!pcs) return {std::nullopt, "unknown zone \"" + name + "\""};
    request.zone = name;
    request.pcs = *pcs;
  } else if (hosts != json.end()) {
    if (!hosts->is_array() || hosts->empty()) return {std::nullopt, "hosts is a list of PCs"};
    for (const nlohmann::json& host : *hosts) {
      if (!host.is_string()) return {std::nullopt, "hosts is a list of PCs"};
      const auto pc = FindPc(hall, host.get<std::string>());
      if (!pc) return {std::nullopt, "unknown PC \"" + host.get<std::string>() + "\""};
      if (std::find(request.pcs.begin(), request.pcs.end(), *pc) == request.pcs.end())
        request.pcs.push_back(*pc);
    }
    // Zone after zone, as the file has them, whatever order the list came in.
    std::stable_sort(request.pcs.begin(), request.pcs.end(), [&](std::size_t a, std::size_t b) {
      return hall.pcs[a].zone < hall.pcs[b].zone;
    });
  } else {
    request.pcs = AllPcs(hall);
  }
  return {std::move(request), {}};
}

std::string IsoTime(std::int64_t wall_ms) {
  const std::time_t seconds = static_cast<std::time_t>(wall_ms / 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string out = text;
  if (out.size() > 5) out.insert(out.size() - 2, ":");  // +0800 -> +08:00
  return out;
}

namespace {

nlohmann::json TimeOrNull(const std::optional<std::int64_t>& wall_ms) {
  return wall_ms ? nlohmann::json(IsoTime(*wall_ms)) : nlohmann::json(nullptr);
}

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

nlohmann::json PcJson(const Hall& hall, std::size_t pc, const PcStatus& status) {
  const HallPc& p = hall.pcs[pc];
  nlohmann::json slots = nullptr;
  if (status.slots) {
    slots = nlohmann::json::array();
    for (const qyr::SlotState s : *status.slots) slots.push_back(qyr::SlotStateText(s));
  }
  nlohmann::json power = nullptr;
  if (status.power) {
    const int t = status.power->seconds_of_day;
    power = {{"what", qyr::PowerEventText(status.power->what)},
             {"at", Two(t / 3600) + ":" + Two(t / 60 % 60) + ":" + Two(t % 60)}};
  }
  const std::string_view reason = DownReasonText(status.reason);
  return {
      {"host", p.target.label},
      {"name", p.name},
      {"zone", hall.zones[p.zone].name},
      {"mac", p.mac ? nlohmann::json(MacText(*p.mac)) : nlohmann::json(nullptr)},
      {"state", PcStateText(status.state)},
      {"reason", reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(reason)},
      {"detail", status.detail.empty() ? nlohmann::json(nullptr) : nlohmann::json(status.detail)},
      {"up_s", status.up_s ? nlohmann::json(*status.up_s) : nlohmann::json(nullptr)},
      {"slots", slots},
      {"rtt_ms", status.rtt_us ? nlohmann::json(static_cast<double>(*status.rtt_us) / 1000.0)
                               : nlohmann::json(nullptr)},
      {"last_seen", TimeOrNull(status.last_seen_ms)},
      {"since", TimeOrNull(status.no_answer_since_ms)},
      {"power", power},
  };
}

nlohmann::json SummaryJson(const HallSummary& s) {
  return {{"pcs", s.pcs},
          {"up", s.up},
          {"programs_running", s.programs_running},
          {"down", s.down},
          {"unknown", s.unknown}};
}

nlohmann::json HallJson(const Hall& hall, const std::vector<PcStatus>& statuses) {
  nlohmann::json zones = nlohmann::json::array();
  for (const HallZone& zone : hall.zones) {
    nlohmann::json pcs = nlohmann::json::array();
    for (const std::size_t pc : zone.pcs) pcs.push_back(PcJson(hall, pc, statuses[pc]));
    zones.push_back({{"name", zone.name}, {"pcs", std::move(pcs)}});
  }
  return {{"zones", std::move(zones)}, {"summary", SummaryJson(Summarize(statuses))}};
}

nlohmann::json StartChangeJson(const Hall& hall, std::size_t pc, const StartChange& change,
                               std::int64_t wall_ms) {
  const HallPc& p = hall.pcs[pc];
  const std::string_view failure = StartFailureText(change.failure);
  return {{"time", IsoTime(wall_ms)},
          {"host", p.target.label},
          {"name", p.name},
          {"zone", hall.zones[p.zone].name},
          {"step", StartStepText(change.step)},
          {"reason", failure.empty() ? nlohmann::json(nullptr) : nlohmann::json(failure)},
          {"slot", change.slot == 0 ? nlohmann::json(nullptr) : nlohmann::json(change.slot)},
          {"text", StartChangeText(change)}};
}

std::string ResultText(const Outcome& outcome) {
  switch (outcome.verdict) {
    case Verdict::Ok:
      return "OK";
    case Verdict::Err:
      return "ERR";
    case Verdict::Unexpected:
      return "reply";
    case Verdict::Closed:
      return "closed";
    case Verdict::RefusedByPc:
      return "refused by the PC";
    case Verdict::NoReply:
      return "sent";
    case Verdict::Timeout:
      return "timeout";
    case Verdict::Refused:
      return "refused";
    case Verdict::Error:
      return "error";
  }
  return "error";
}

}  // namespace qyrsend
