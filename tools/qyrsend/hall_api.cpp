#include "hall_api.h"

#include <algorithm>
#include <ctime>

#include "status.h"

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

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

std::int64_t SecondsOf(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday)) *
             86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

}  // namespace

std::string IsoTime(std::int64_t wall_ms) {
  const std::time_t seconds = static_cast<std::time_t>(wall_ms / 1000);
  std::tm local{};
  std::tm utc{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
  gmtime_s(&utc, &seconds);
#else
  localtime_r(&seconds, &local);
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &local);
  // The offset worked out, not strftime's %z, which Windows writes as the zone's name.
  const std::int64_t offset_min = (SecondsOf(local) - SecondsOf(utc)) / 60;
  const std::int64_t magnitude = offset_min < 0 ? -offset_min : offset_min;
  const auto two = [](std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  return std::string(text) + (offset_min < 0 ? "-" : "+") + two(magnitude / 60) + ":" +
         two(magnitude % 60);
}

namespace {

Json TimeOrNull(const std::optional<std::int64_t>& wall_ms) {
  return wall_ms ? Json(IsoTime(*wall_ms)) : Json(nullptr);
}

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

}  // namespace

Json PcJson(const Target& target, const PcLabel& label, const PcStatus& status) {
  Json pc = StatusFields(target, status.answer);
  Json power = nullptr;
  if (status.power) {
    const int t = status.power->seconds_of_day;
    power = {{"what", qyr::PowerEventText(status.power->what)},
             {"at", Two(t / 3600) + ":" + Two(t / 60 % 60) + ":" + Two(t % 60)}};
  }
  const std::string_view reason = DownReasonText(status.reason);
  pc["name"] = label.name;
  pc["zone"] = label.zone;
  pc["mac"] = label.mac ? Json(MacText(*label.mac)) : Json(nullptr);
  pc["state"] = PcStateText(status.state);
  pc["reason"] = reason.empty() ? Json(nullptr) : Json(reason);
  pc["last_seen"] = TimeOrNull(status.last_seen_ms);
  pc["since"] = TimeOrNull(status.no_answer_since_ms);
  pc["power"] = power;
  return pc;
}

Json PcJson(const Hall& hall, std::size_t pc, const PcStatus& status) {
  const HallPc& p = hall.pcs[pc];
  return PcJson(p.target, {p.name, hall.zones[p.zone].name, p.mac}, status);
}

Json SummaryJson(const HallSummary& s) {
  return {{"pcs", s.pcs},
          {"up", s.up},
          {"programs_running", s.programs_running},
          {"down", s.down},
          {"unknown", s.unknown}};
}

Json HallJson(const Hall& hall, const std::vector<PcStatus>& statuses) {
  Json zones = Json::array();
  for (const HallZone& zone : hall.zones) {
    Json pcs = Json::array();
    for (const std::size_t pc : zone.pcs) pcs.push_back(PcJson(hall, pc, statuses[pc]));
    zones.push_back({{"name", zone.name}, {"pcs", std::move(pcs)}});
  }
  return {{"zones", std::move(zones)}, {"summary", SummaryJson(Summarize(statuses))}};
}

std::string JsonText(const Json& json) {
  std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
  // What was no UTF-8 in a peer's bytes, written as the escape the lines have always carried.
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  for (std::size_t at = text.find(kReplacement); at != std::string::npos;
       at = text.find(kReplacement, at))
    text.replace(at, kReplacement.size(), "\\ufffd");
  return text;
}

std::string StatusJson(const std::vector<Target>& targets, const std::vector<Answer>& answers,
                       std::int64_t now_ms, const std::vector<PcLabel>& labels) {
  std::string out;
  for (std::size_t i = 0; i < targets.size() && i < answers.size(); ++i) {
    PcTracker tracker;
    tracker.OnAnswer(answers[i], now_ms);
    out +=
        JsonText(PcJson(targets[i], i < labels.size() ? labels[i] : PcLabel{}, tracker.status())) +
        "\n";
  }
  return out;
}

Json StartChangeJson(const Hall& hall, std::size_t pc, const PcStatus& status,
                     const StartChange& change, std::int64_t wall_ms) {
  Json json = PcJson(hall, pc, status);
  const std::string_view failure = StartFailureText(change.failure);
  json["start"] = {{"time", IsoTime(wall_ms)},
                   {"step", StartStepText(change.step)},
                   {"reason", failure.empty() ? Json(nullptr) : Json(failure)},
                   {"slot", change.slot == 0 ? Json(nullptr) : Json(change.slot)},
                   {"text", StartChangeText(change)}};
  return json;
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
