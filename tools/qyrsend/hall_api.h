#pragma once
// The hall page's API without its server: who may use it, what a request asks for, and the
// JSON it answers with (the same objects the command line prints). No sockets here.
#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hall_hosts.h"
#include "hall_state.h"
#include "morning_start.h"

namespace qyrsend {

inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;
inline constexpr int kWrongTriesAllowed = 5;  // a minute, from one address
inline constexpr std::int64_t kLockOutMs = 60 * 1000;

enum class Access { kAllowed, kUnauthorized, kTooMany };

// The token and the sessions the page logged in with. An address that presented a wrong token
// more than five times within a minute is refused, right token or not, for a minute.
class TokenGate {
 public:
  explicit TokenGate(std::string token) : token_(std::move(token)) {}
  // `presented`: a token from the Authorization header or a login; `session`: the cookie's.
  Access Check(const std::string& address, std::optional<std::string_view> presented,
               std::optional<std::string_view> session, std::int64_t now_ms);
  // A new session for one that presented the token; `id` is fresh random hex.
  void AddSession(std::string id) { sessions_.insert(std::move(id)); }

 private:
  bool Locked(const std::string& address, std::int64_t now_ms);
  std::string token_;
  std::set<std::string> sessions_;
  std::map<std::string, std::vector<std::int64_t>> wrong_;  // the times of wrong tries
  std::map<std::string, std::int64_t> locked_until_;
};

// Compares without leaving the length of a common prefix in the time taken.
bool SameSecret(std::string_view a, std::string_view b);

// "Bearer TOKEN" -> TOKEN.
std::optional<std::string_view> BearerToken(std::string_view authorization);
// The value of one cookie of a Cookie header.
std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name);
// A POST is ours when it names no origin (curl) or the origin of the Host it was sent to.
bool SameOrigin(std::optional<std::string_view> origin, std::string_view host);

enum class ActionKind { kCheck, kWake, kOff, kReboot, kStart };
std::string_view ActionText(ActionKind kind);  // "check", "wake", "off", "reboot", "start"

struct ActionRequest {
  ActionKind kind = ActionKind::kCheck;
  std::optional<std::string> zone;  // none with `hosts` or for the whole hall
  std::vector<std::size_t> pcs;     // zone after zone
};

struct RequestCheck {
  std::optional<ActionRequest> request;
  std::string error;  // in words, for a 400
};

// {"action":"check|wake|off|reboot|start"} with "zone":NAME, "hosts":[HOST,...] or neither
// (the whole hall).
RequestCheck ParseActionRequest(std::string_view body, const Hall& hall);

// "2025-03-01T09:02:41+08:00", local time.
std::string IsoTime(std::int64_t wall_ms);

// One PC as GET /api/hall, --status --json and start --json show it.
nlohmann::json PcJson(const Hall& hall, std::size_t pc, const PcStatus& status);
nlohmann::json SummaryJson(const HallSummary& summary);
nlohmann::json HallJson(const Hall& hall, const std::vector<PcStatus>& statuses);

// One change of the morning start.
nlohmann::json StartChangeJson(const Hall& hall, std::size_t pc, const StartChange& change,
                               std::int64_t wall_ms);

// What one PC made of an action: "OK", "ERR", "timeout", "refused", "closed", "sent", ...
std::string ResultText(const Outcome& outcome);

}  // namespace qyrsend
