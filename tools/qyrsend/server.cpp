// qyrsend serve: the hall page's HTTP server, its sweep and its actions. The rules are in
// hall_api, hall_state and morning_start; this is the shell around them.
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "files.h"
#include "hall_api.h"
#include "hall_commands.h"
#include "net.h"
#include "page.h"
#include "remote/allow_list.h"
#include "remote/protocol.h"
#include "signer.h"

#include <httplib.h>

namespace qyrsend {

namespace {

constexpr const char* kSessionCookie = "qyrhall";
constexpr std::size_t kTokenBytes = 32;

bool IsHexToken(const std::string& text) {
  if (text.size() != 2 * kTokenBytes) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The token, read from its file or made there (owner only) on the first start.
std::optional<std::string> LoadToken(const std::string& path, bool& created) {
  created = false;
  if (!files::Exists(path)) {
    const std::optional<std::string> token = RandomHex(kTokenBytes);
    if (!token) {
      PrintErr("qyrsend: the system gave no random bytes for the token\n");
      return std::nullopt;
    }
    const std::string error = files::WriteNew(path, *token + "\n", true);
    if (!error.empty()) {
      PrintErr("qyrsend: cannot create the token file " + path + ": " + error + "\n");
      return std::nullopt;
    }
    created = true;
    return token;
  }
  if (!files::OwnerOnly(path)) {
    PrintErr("qyrsend: the token file " + path +
             " may be read by others; make it its owner's only (" +
             std::string(files::kMakeOwnerOnly) + ")\n");
    return std::nullopt;
  }
  std::string error;
  const std::optional<std::string> text = ReadTextFile(path, 1024, error);
  std::string token = text ? text->substr(0, text->find('\n')) : std::string();
  if (!token.empty() && token.back() == '\r') token.pop_back();
  if (!IsHexToken(token)) {
    PrintErr("qyrsend: the token file " + path + " holds no token (64 hex digits)\n");
    return std::nullopt;
  }
  return token;
}

struct ActionRecord {
  int id = 0;
  ActionKind kind = ActionKind::kCheck;
  std::optional<std::string> zone;
  std::vector<std::size_t> pcs;
  std::vector<std::string> results;
  std::string client;
  std::int64_t started_ms = 0;
  bool done = false;
  std::string summary;
};

class HallServer {
 public:
  HallServer(Hall hall, HallOptions options, std::string token, std::string log_path)
      : hall_(std::move(hall)),
        options_(std::move(options)),
        gate_(std::move(token)),
        log_path_(std::move(log_path)),
        trackers_(hall_.pcs.size()) {}

  int Run(const std::string& address, int port) {
    Routes();
    // The page is announced only once the port is ours.
    if (!server_.bind_to_port(address, port)) {
      PrintErr("qyrsend: cannot listen on " + options_.listen + "\n");
      return 1;
    }
    PrintOut("hall page at http://" + options_.listen + "/ for " +
             std::to_string(hall_.pcs.size()) + " PCs; hall log " + log_path_ + "\n");
    sweeper_ = std::thread([this] { SweepLoop(); });
    const bool listened = server_.listen_after_bind();
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_sweep_.notify_all();
    sweeper_.join();
    return listened ? 0 : 1;
  }

 private:
  void SweepLoop() {
    const std::vector<std::size_t> all = AllPcs(hall_);
    std::unique_lock lock(mutex_);
    while (!stop_) {
      lock.unlock();
      const std::vector<Answer> answers = AskStatus(hall_, all, options_.net);
      const std::int64_t now = WallMs();
      lock.lock();
      for (std::size_t i = 0; i < all.size(); ++i) trackers_[all[i]].OnAnswer(answers[i], now);
      wake_sweep_.wait_for(lock, std::chrono::seconds(options_.every_s),
                           [this] { return stop_.load(); });
    }
  }

  std::vector<PcStatus> Statuses() const {
    std::vector<PcStatus> statuses;
    for (const PcTracker& t : trackers_) statuses.push_back(t.status());
    return statuses;
  }

  Json ActionJson(const ActionRecord& a) const {
    Json results = Json::array();
    for (std::size_t i = 0; i < a.pcs.size(); ++i)
      results.push_back({{"host", hall_.pcs[a.pcs[i]].target.label}, {"result", a.results[i]}});
    return {{"id", a.id},
            {"action", ActionText(a.kind)},
            {"zone", a.zone ? Json(*a.zone) : Json(nullptr)},
            {"started", IsoTime(a.started_ms)},
            {"done", a.done},
            {"summary", a.summary},
            {"results", results}};
  }

  void Log(const ActionRecord& a) {
    Json line = {{"time", IsoTime(WallMs())}, {"client", a.client}, {"action", ActionText(a.kind)}};
    line["zone"] = a.zone ? Json(*a.zone) : Json(nullptr);
    Json targets = Json::array();
    Json results = Json::object();
    for (std::size_t i = 0; i < a.pcs.size(); ++i) {
      targets.push_back(hall_.pcs[a.pcs[i]].target.label);
      results[hall_.pcs[a.pcs[i]].target.label] = a.results[i];
    }
    line["targets"] = targets;
    line["results"] = results;
    if (!a.summary.empty()) line["summary"] = a.summary;
    std::ofstream out(PathOf(log_path_), std::ios::app | std::ios::binary);
    out << JsonText(line) << '\n';
  }

  void Carry(int id) {
    ActionRecord a;
    {
      std::lock_guard lock(mutex_);
      a = actions_.at(id);
    }
    const auto set = [&](std::size_t k, const std::string& result) {
      std::lock_guard lock(mutex_);
      actions_.at(id).results[k] = result;
    };
    std::string summary;
    switch (a.kind) {
      case ActionKind::kCheck: {
        const std::vector<Answer> answers = AskStatus(hall_, a.pcs, options_.net);
        std::lock_guard lock(mutex_);
        for (std::size_t k = 0; k < a.pcs.size(); ++k) {
          trackers_[a.pcs[k]].OnAnswer(answers[k], WallMs());
          actions_.at(id).results[k] = ResultText(answers[k].outcome);
        }
        break;
      }
      case ActionKind::kWake: {
        const std::vector<std::string> results = WakePcs(hall_, a.pcs, options_.net);
        std::lock_guard lock(mutex_);
        for (std::size_t k = 0; k < a.pcs.size(); ++k) {
          if (results[k] == "sent") trackers_[a.pcs[k]].OnWakeSent(WallMs());
          actions_.at(id).results[k] = results[k];
        }
        break;
      }
      case ActionKind::kOff:
      case ActionKind::kReboot: {
        const qyr::Command command =
            a.kind == ActionKind::kOff ? qyr::Command::kPowerOff : qyr::Command::kReboot;
        const std::vector<Outcome> outcomes = SendZoneByZone(hall_, a.pcs, command, options_.net);
        std::lock_guard lock(mutex_);
        for (std::size_t k = 0; k < a.pcs.size(); ++k) {
          trackers_[a.pcs[k]].OnPowerSent(outcomes[k], WallMs());
          actions_.at(id).results[k] = ResultText(outcomes[k]);
        }
        break;
      }
      case ActionKind::kStart: {
        std::map<std::size_t, std::size_t> slot_of;
        for (std::size_t k = 0; k < a.pcs.size(); ++k) slot_of[a.pcs[k]] = k;
        std::int64_t ready_at = 0;
        StartCallbacks callbacks;
        callbacks.changed = [&](std::size_t pc, const StartChange& change, std::int64_t wall_ms) {
          if (change.step == StartStep::kReady) ready_at = wall_ms;
          set(slot_of[pc], StartChangeText(change));
        };
        callbacks.woken = [&](std::size_t pc, std::int64_t wall_ms) {
          std::lock_guard lock(mutex_);
          trackers_[pc].OnWakeSent(wall_ms);
        };
        callbacks.answered = [&](std::size_t pc, const Answer& answer, std::int64_t wall_ms) {
          std::lock_guard lock(mutex_);
          trackers_[pc].OnAnswer(answer, wall_ms);
        };
        const MorningStart machine =
            RunMorningStart(hall_, a.pcs, options_.start, options_.net, callbacks, stop_);
        if (machine.AllReady()) {
          summary = "hall ready at " + ClockText(ready_at);
        } else {
          std::string not_ready;
          for (std::size_t i = 0; i < machine.size(); ++i) {
            if (machine.Current(i).step == StartStep::kReady) continue;
            not_ready += (not_ready.empty() ? "" : ", ") + hall_.pcs[a.pcs[i]].target.label;
          }
          summary = "not ready: " + not_ready;
        }
        break;
      }
    }
    std::lock_guard lock(mutex_);
    ActionRecord& record = actions_.at(id);
    record.done = true;
    record.summary = summary;
    Log(record);
  }

  // The credential of a request: 0 when it may go on, else the status already set.
  bool Admit(const httplib::Request& req, httplib::Response& res,
             std::optional<std::string> login = std::nullopt) {
    std::optional<std::string> presented = std::move(login);
    if (!presented && req.has_header("Authorization")) {
      const std::string header = req.get_header_value("Authorization");
      const auto bearer = BearerToken(header);
      presented = bearer ? std::string(*bearer) : header;
    }
    std::optional<std::string> session;
    if (req.has_header("Cookie")) {
      const std::string header = req.get_header_value("Cookie");
      if (const auto value = CookieValue(header, kSessionCookie)) session = std::string(*value);
    }
    Access access;
    {
      std::lock_guard lock(mutex_);
      access = gate_.Check(req.remote_addr, presented, session, WallMs());
    }
    if (access == Access::kAllowed) return true;
    res.status = access == Access::kTooMany ? 429 : 401;
    Error(res, access == Access::kTooMany ? "too many wrong tokens: wait a minute"
                                          : "a token is needed (see the token file)");
    return false;
  }

  static void Error(httplib::Response& res, const std::string& message) {
    res.set_content(Json({{"error", message}}).dump(), "application/json");
  }

  static void Reply(httplib::Response& res, const Json& json) {
    res.set_content(JsonText(json), "application/json");
  }

  bool Ours(const httplib::Request& req, httplib::Response& res) {
    const std::string origin = req.get_header_value("Origin");
    if (SameOrigin(
            req.has_header("Origin") ? std::optional<std::string_view>(origin) : std::nullopt,
            req.get_header_value("Host")))
      return true;
    res.status = 403;
    Error(res, "a request from another site's page is refused");
    return false;
  }

  void Routes() {
    server_.set_payload_max_length(1024 * 1024);
    server_.set_socket_options(
        [](socket_t socket) { net::OwnPort(static_cast<net::Socket>(socket)); });
    server_.set_default_headers({{"Cache-Control", "no-store"},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"X-Frame-Options", "DENY"}});
    server_.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(HallPage()), "text/html; charset=utf-8");
    });
    server_.Post("/api/login", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Ours(req, res)) return;
      const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
      const bool has_token =
          body.is_object() && body.contains("token") && body["token"].is_string();
      if (!has_token) {
        res.status = 400;
        return Error(res, "the body is {\"token\":\"...\"}");
      }
      if (!Admit(req, res, body["token"].get<std::string>())) return;
      const std::optional<std::string> session = RandomHex(kTokenBytes);
      if (!session) {
        res.status = 500;
        return Error(res, "the system gave no random bytes for a session");
      }
      {
        std::lock_guard lock(mutex_);
        gate_.AddSession(*session);
      }
      res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + *session +
                                       "; Path=/; HttpOnly; SameSite=Strict");
      Reply(res, {{"ok", true}});
    });
    server_.Get("/api/hall", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Admit(req, res)) return;
      std::lock_guard lock(mutex_);
      Json hall = HallJson(hall_, Statuses());
      // The last action that reached each PC, for its tile.
      for (auto& zone : hall["zones"]) {
        for (auto& pc : zone["pcs"]) pc["result"] = nullptr;
      }
      std::map<std::size_t, std::pair<const ActionRecord*, std::size_t>> last;
      for (const auto& [id, a] : actions_) {
        for (std::size_t k = 0; k < a.pcs.size(); ++k) last[a.pcs[k]] = {&a, k};
      }
      for (std::size_t z = 0; z < hall_.zones.size(); ++z) {
        for (std::size_t k = 0; k < hall_.zones[z].pcs.size(); ++k) {
          Json& pc = hall["zones"][z]["pcs"][k];
          const auto found = last.find(hall_.zones[z].pcs[k]);
          if (found == last.end()) continue;
          const ActionRecord& a = *found->second.first;
          pc["result"] = {{"id", a.id},
                          {"action", ActionText(a.kind)},
                          {"result", a.results[found->second.second]},
                          {"done", a.done}};
        }
      }
      Json running = Json::array();
      for (const auto& [id, a] : actions_) {
        if (!a.done || id + 5 > next_id_) running.push_back(ActionJson(a));
      }
      hall["actions"] = running;
      Reply(res, hall);
    });
    server_.Post("/api/action", [this](const httplib::Request& req, httplib::Response& res) {
      if (!Ours(req, res) || !Admit(req, res)) return;
      const RequestCheck check = ParseActionRequest(req.body, hall_);
      if (!check.request) {
        res.status = 400;
        return Error(res, check.error);
      }
      int id = 0;
      {
        std::lock_guard lock(mutex_);
        id = next_id_++;
        ActionRecord& a = actions_[id];
        a.id = id;
        a.kind = check.request->kind;
        a.zone = check.request->zone;
        a.pcs = check.request->pcs;
        a.results.assign(a.pcs.size(), a.kind == ActionKind::kStart ? "queued" : "sending");
        a.client = req.remote_addr;
        a.started_ms = WallMs();
      }
      std::thread([this, id] { Carry(id); }).detach();
      res.status = 202;
      Reply(res, {{"id", id}});
    });
    server_.Get(R"(/api/action/(\d+))",
                [this](const httplib::Request& req, httplib::Response& res) {
                  if (!Admit(req, res)) return;
                  std::lock_guard lock(mutex_);
                  const auto found = actions_.find(std::atoi(req.matches[1].str().c_str()));
                  if (found == actions_.end()) {
                    res.status = 404;
                    return Error(res, "no such action");
                  }
                  Reply(res, ActionJson(found->second));
                });
  }

  Hall hall_;
  HallOptions options_;
  TokenGate gate_;
  std::string log_path_;
  std::vector<PcTracker> trackers_;
  std::map<int, ActionRecord> actions_;
  int next_id_ = 1;
  std::mutex mutex_;
  std::condition_variable wake_sweep_;
  std::atomic<bool> stop_ = false;
  std::thread sweeper_;
  httplib::Server server_;
};

}  // namespace

int RunServe(const HallOptions& given) {
  HallOptions options = given;
  if (!CheckNet(options)) return kUsageExitCode;
  const std::size_t colon = options.listen.rfind(':');
  const std::optional<qyr::Ipv4> address =
      colon == std::string::npos ? std::nullopt : qyr::ParseIpv4(options.listen.substr(0, colon));
  int port = 0;
  if (address) {
    const std::string digits = options.listen.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535)
      port = 0;
  }
  if (!address || port == 0) {
    PrintErr("qyrsend: --listen needs ADDR:PORT, for example 127.0.0.1:8908\n");
    return kUsageExitCode;
  }
  if (!LoadKey(options)) return kUsageExitCode;
  std::optional<Hall> hall = LoadHall(options);
  if (!hall) return kUsageExitCode;

  const std::string token_path = options.token_file.empty()
                                     ? BesideHosts(options.hosts_file, "qyrsend-hall.token")
                                     : options.token_file;
  const std::string log_path = options.log_file.empty()
                                   ? BesideHosts(options.hosts_file, "qyrsend-hall.log")
                                   : options.log_file;
  bool created = false;
  std::optional<std::string> token = LoadToken(token_path, created);
  if (!token) return 1;
  PrintOut(std::string(created ? "new token in " : "token in ") + token_path +
           " (the page asks for it once)\n");
  if ((*address >> 24) != 127) {
    PrintErr("qyrsend: warning: the page listens on " + options.listen +
             " beyond this PC; the token is all that guards the hall\n");
  }
  HallServer server(std::move(*hall), options, std::move(*token), log_path);
  return server.Run(options.listen.substr(0, colon), port);
}

}  // namespace qyrsend
