#include "hall_commands.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hall_api.h"
#include "remote/allow_list.h"

namespace qyrsend {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

namespace {

void AddCommon(CLI::App& command, HallOptions& options) {
  command.add_option("--hosts", options.hosts_file, "the hall's hosts file, with its zones")
      ->required();
  command.add_option("--timeout", options.net.timeout_ms, "milliseconds for each PC's answer")
      ->check(CLI::Range(1, 600000));
  command.add_option("--port", options.port, "port of every PC without its own :PORT")
      ->check(CLI::Range(1, 65535));
  command.add_option("--broadcast", options.broadcast, "where magic packets go (IPv4)");
  command.add_option("--repeat", options.net.repeat, "each magic packet this many times")
      ->check(CLI::Range(1, kMaxWakeRepeat));
  command.add_option("--key", options.key_file, "the hall's private key: power commands signed");
  command
      .add_option("--zone-gap", options.start.zone_gap_s, "morning start: seconds between zones")
      ->check(CLI::Range(0, 3600));
  command
      .add_option("--wake-batch", options.start.wake_batch,
                  "morning start: PCs woken a second within a zone")
      ->check(CLI::Range(1, 1000));
  command
      .add_option("--wake-tries", options.start.wake_tries,
                  "morning start: magic packets per PC while it does not answer")
      ->check(CLI::Range(1, 100));
}

}  // namespace

std::string BesideHosts(const std::string& hosts_file, const std::string& name) {
  const std::u8string path = (PathOf(hosts_file).parent_path() / PathOf(name)).u8string();
  return std::string(path.begin(), path.end());
}

std::optional<Hall> LoadHall(const HallOptions& options) {
  std::ifstream in(PathOf(options.hosts_file), std::ios::binary);
  if (!in) {
    PrintErr("qyrsend: cannot read " + options.hosts_file + "\n");
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  HallParse parse = ParseHall(text.str(), options.port);
  if (!parse.hall) {
    PrintErr("qyrsend: " + options.hosts_file + ", " + parse.error + "\n");
    return std::nullopt;
  }
  return std::move(parse.hall);
}

namespace {

void AddHallCommands(CLI::App& app, HallOptions& options, int& exit_code) {
  CLI::App* serve = app.add_subcommand("serve", "the hall page and its API");
  AddCommon(*serve, options);
  serve->add_option("--listen", options.listen, "ADDR:PORT of the page (default 127.0.0.1:8908)");
  serve->add_option("--token-file", options.token_file, "the page's token (made on first start)");
  serve->add_option("--log", options.log_file,
                    "the hall log (default qyrsend-hall.log beside the hosts file)");
  serve->add_option("--every", options.every_s, "seconds between sweeps")
      ->check(CLI::Range(1, 3600));
  serve->final_callback([&] { exit_code = RunServe(options); });

  CLI::App* start = app.add_subcommand("start", "the morning start, zone by zone, verified");
  AddCommon(*start, options);
  start->add_option_function<std::string>(
      "--zone",
      [&](const std::string& zone) {
        options.zone = zone;
        options.zone_given = true;
      },
      "only this zone");
  start->add_flag("--json", options.json, "one JSON object per PC and change");
  start->final_callback([&] { exit_code = RunStart(options); });
}

}  // namespace

int RunHallCommand(const std::vector<std::string>& args) {
  CLI::App app("qyrsend: the hall page and the morning start", "qyrsend");
  app.require_subcommand(1);
  HallOptions options;
  int exit_code = 0;
  AddHallCommands(app, options, exit_code);
  // CLI11 takes a vector last argument first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(e, out, err);
    PrintOut(out.str());
    PrintErr(err.str());
    return code == 0 ? 0 : kUsageExitCode;
  }
  return exit_code;
}

bool CheckNet(HallOptions& options) {
  const std::optional<qyr::Ipv4> broadcast = qyr::ParseIpv4(options.broadcast);
  if (!broadcast) {
    PrintErr("qyrsend: --broadcast needs an IPv4 address\n");
    return false;
  }
  options.net.broadcast = *broadcast;
  return true;
}

bool LoadKey(HallOptions& options) {
  if (options.key_file.empty()) return true;
  std::string error;
  options.net.key = LoadHallKey(options.key_file, error);
  if (!options.net.key) PrintErr("qyrsend: " + error + "\n");
  return options.net.key.has_value();
}

int RunStart(const HallOptions& given) {
  HallOptions options = given;
  if (!CheckNet(options) || !LoadKey(options)) return kUsageExitCode;
  const std::optional<Hall> hall = LoadHall(options);
  if (!hall) return kUsageExitCode;
  std::vector<std::size_t> pcs = AllPcs(*hall);
  if (options.zone_given) {
    const auto zone = ZonePcs(*hall, options.zone);
    if (!zone) {
      PrintErr("qyrsend: no zone " + options.zone + " in " + options.hosts_file + "\n");
      return kUsageExitCode;
    }
    pcs = *zone;
  }
  std::size_t width = 0;
  for (const std::size_t pc : pcs) width = std::max(width, hall->pcs[pc].target.label.size());

  StartCallbacks callbacks;
  std::int64_t ready_at = 0;
  // What the sweeps of the start saw of each PC, for the PC objects of --json.
  std::vector<PcTracker> trackers(hall->pcs.size());
  callbacks.woken = [&](std::size_t pc, std::int64_t wall_ms) { trackers[pc].OnWakeSent(wall_ms); };
  callbacks.answered = [&](std::size_t pc, const Answer& answer, std::int64_t wall_ms) {
    trackers[pc].OnAnswer(answer, wall_ms);
  };
  callbacks.changed = [&](std::size_t pc, const StartChange& change, std::int64_t wall_ms) {
    if (change.step == StartStep::kReady) ready_at = wall_ms;
    if (options.json) {
      PrintOut(JsonText(StartChangeJson(*hall, pc, trackers[pc].status(), change, wall_ms)) + "\n");
      return;
    }
    const std::string& label = hall->pcs[pc].target.label;
    PrintOut(ClockText(wall_ms) + "  " + label + std::string(width - label.size() + 2, ' ') +
             StartChangeText(change) + "\n");
  };
  const std::atomic<bool> stop = false;
  const MorningStart machine =
      RunMorningStart(*hall, pcs, options.start, options.net, callbacks, stop);
  if (!options.json) {
    if (machine.AllReady()) {
      PrintOut("hall ready at " + ClockText(ready_at) + "\n");
    } else {
      std::string not_ready;
      for (std::size_t i = 0; i < machine.size(); ++i) {
        if (machine.Current(i).step == StartStep::kReady) continue;
        not_ready += (not_ready.empty() ? "" : ", ") + hall->pcs[pcs[i]].target.label;
      }
      PrintOut("not ready: " + not_ready + "\n");
    }
  }
  return machine.AllReady() ? 0 : 1;
}

}  // namespace qyrsend
