// qyrsend: sends a command word to one or many QyrDelay PCs, as the hall's control system does.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "args.h"
#include "console.h"
#include "files.h"
#include "hall_api.h"
#include "hall_commands.h"
#include "hall_key.h"
#include "hosts_file.h"
#include "net.h"
#include "sender.h"
#include "status.h"
#include "wake.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int Wake(const qyrsend::Options& options, const std::vector<std::string>& items) {
  std::string error;
  const std::optional<std::vector<qyrsend::Mac>> macs = qyrsend::MacsOf(items, error);
  if (!macs || macs->empty()) {
    qyrsend::PrintErr("qyrsend: " + (macs ? std::string("no MAC given") : error) + "\n");
    return qyrsend::kUsageExitCode;
  }
  qyrsend::net::Library library;
  const std::vector<std::string> errors =
      library.ok() ? qyrsend::WakeAll(*macs, options.broadcast, options.port, options.repeat,
                                      std::chrono::milliseconds(100))
                   : std::vector<std::string>(macs->size(), "not sent");
  qyrsend::PrintOut(qyrsend::WakeReport(*macs, errors));
  return qyrsend::WakeExitCode(errors);
}

int Keygen(const std::string& base) {
  const std::string private_path = base + ".key";
  const std::string public_path = base + ".pub";
  for (const std::string& path : {private_path, public_path}) {
    if (qyrsend::files::Exists(path)) {
      qyrsend::PrintErr("qyrsend: " + path + " exists already; keygen never overwrites a key\n");
      return qyrsend::kUsageExitCode;
    }
  }
  const std::optional<qyrsend::HallKey> key = qyrsend::GenerateHallKey();
  if (!key) {
    qyrsend::PrintErr("qyrsend: the system's cryptography made no key pair\n");
    return 1;
  }
  std::string error =
      qyrsend::files::WriteNew(private_path, qyrsend::PrivateKeyFileText(*key), true);
  if (error.empty()) {
    error =
        qyrsend::files::WriteNew(public_path, qyrsend::PublicKeyFileText(key->public_key), false);
    // Half a pair is no use, and would stop the next keygen.
    if (!error.empty()) qyrsend::files::Remove(private_path);
  }
  if (!error.empty()) {
    qyrsend::PrintErr("qyrsend: cannot write the key pair " + base + ".key/.pub: " + error + "\n");
    return 1;
  }
  qyrsend::PrintOut(private_path + "  the private key, readable by you only: keep it on this PC\n" +
                    public_path + "  the public key, for SignedBy= on every PC:\n" +
                    qyr::HexEncode(key->public_key) + "\n");
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (!args.empty() && (args.front() == "serve" || args.front() == "start"))
    return qyrsend::RunHallCommand(args);
  const qyrsend::ParsedArgs parsed = qyrsend::ParseArgs(args);
  if (!parsed.options) {
    qyrsend::PrintErr("qyrsend: " + parsed.error + "\n\n" + std::string(qyrsend::UsageText()));
    return qyrsend::kUsageExitCode;
  }
  const qyrsend::Options& options = *parsed.options;
  if (options.help) {
    qyrsend::PrintOut(std::string(qyrsend::UsageText()));
    return 0;
  }
  if (options.keygen) return Keygen(options.key_base);
  std::optional<qyrsend::HallKey> key;
  if (!options.key_file.empty()) {
    std::string error;
    if (!(key = qyrsend::LoadHallKey(options.key_file, error))) {
      qyrsend::PrintErr("qyrsend: " + error + "\n");
      return qyrsend::kUsageExitCode;
    }
  }

  std::vector<std::string> items =
      options.wake ? qyrsend::SplitHosts(options.command) : options.hosts;
  // What the hosts file says of each item beyond its address, for --status --json.
  std::vector<qyrsend::PcLabel> labels(items.size());
  // On the command line every item of --wake must be a MAC.
  for (const std::string& item : items) {
    if (options.wake && !qyrsend::ParseMac(item)) {
      qyrsend::PrintErr("qyrsend: malformed MAC " + item + "\n");
      return qyrsend::kUsageExitCode;
    }
  }
  if (!options.hosts_file.empty()) {
    std::string error;
    const std::optional<std::string> file =
        qyrsend::ReadTextFile(options.hosts_file, qyrsend::kMaxHostsFileBytes, error);
    if (!file) {
      qyrsend::PrintErr("qyrsend: " + error + "\n");
      return qyrsend::kUsageExitCode;
    }
    // A MAC written wrong would be taken for a host and skipped: the PC would stay asleep.
    const qyrsend::HallParse parse = qyrsend::ParseHostsFile(*file, options.port);
    if (!parse.hall) {
      qyrsend::PrintErr("qyrsend: " + options.hosts_file + ", " + parse.error + "\n");
      return qyrsend::kUsageExitCode;
    }
    const qyrsend::Hall& hall = *parse.hall;
    std::optional<std::size_t> zone;
    if (options.zone) {
      for (std::size_t z = 0; z < hall.zones.size() && !zone; ++z) {
        if (hall.zones[z].name == *options.zone) zone = z;
      }
      if (!zone) {
        qyrsend::PrintErr("qyrsend: no zone " + *options.zone + " in " + options.hosts_file + "\n");
        return qyrsend::kUsageExitCode;
      }
    }
    if (options.wake) {
      for (const qyrsend::HallMac& mac : hall.macs) {
        if (!zone || mac.zone == *zone) items.push_back(qyrsend::MacText(mac.mac));
      }
    } else {
      for (const qyrsend::HallPc& pc : hall.pcs) {
        if (zone && pc.zone != *zone) continue;
        items.push_back(pc.target.label);
        labels.push_back({pc.name, hall.zones[pc.zone].name, pc.mac});
      }
    }
  }
  if (options.wake) return Wake(options, items);
  if (items.empty()) {
    qyrsend::PrintErr("qyrsend: no host given\n");
    return qyrsend::kUsageExitCode;
  }

  std::vector<qyrsend::Target> targets;
  for (const std::string& item : items) {
    std::string error;
    auto target = qyrsend::ParseTarget(item, options.port, error);
    if (!target) {
      qyrsend::PrintErr("qyrsend: " + error + "\n");
      return qyrsend::kUsageExitCode;
    }
    targets.push_back(std::move(*target));
  }

  const std::string payload = options.command + (options.crlf ? "\r\n" : "");
  if (options.status) {
    const std::vector<qyrsend::Answer> answers = qyrsend::AskAll(
        targets, payload, qyrsend::Transport::Tcp, options.timeout_ms, qyrsend::ClassifyStatus);
    qyrsend::PrintOut(options.json
                          ? qyrsend::StatusJson(targets, answers, qyrsend::WallMs(), labels)
                          : qyrsend::StatusReport(targets, answers));
    return qyrsend::StatusExitCode(answers);
  }
  const std::string_view line_end = options.crlf ? "\r\n" : "";
  const qyrsend::Dialogue dialogue =
      key ? qyrsend::SignedDialogue(*qyrsend::PowerCommandNamed(options.command), *key, line_end)
          : qyrsend::OneMessage(payload, qyrsend::RuleFor(options.command));
  std::vector<qyrsend::Outcome> outcomes;
  for (qyrsend::Answer& answer :
       qyrsend::AskAll(targets, dialogue, options.transport, options.timeout_ms))
    outcomes.push_back(std::move(answer.outcome));
  qyrsend::PrintOut(qyrsend::Report(targets, outcomes));
  return qyrsend::ExitCode(outcomes);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), bytes, nullptr, nullptr);
    arg.resize(arg.size() - 1);  // the terminating zero
    args.push_back(std::move(arg));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
