#include "args.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <utility>

#include "hall_key.h"
#include "remote/allow_list.h"
#include "remote/protocol.h"

namespace qyrsend {

static ParsedArgs WakeArgs(Options options, const std::vector<std::string>& positional,
                           bool port_given) {
  if (options.transport == Transport::Udp || options.crlf)
    return {std::nullopt, "--udp and --crlf do not go with --wake"};
  if (!port_given) options.port = kDefaultWakePort;
  const std::size_t wanted_min = options.hosts_file.empty() ? 1 : 0;
  if (positional.size() < wanted_min || positional.size() > 1)
    return {std::nullopt,
            options.hosts_file.empty() ? "expected MAC[,MAC...]" : "expected [MAC[,MAC...]]"};
  options.command = positional.empty() ? std::string() : positional.front();
  return {options, {}};
}

static ParsedArgs StatusArgs(Options options, const std::vector<std::string>& positional,
                             bool repeat_given) {
  if (options.wake || options.transport == Transport::Udp || options.crlf || repeat_given)
    return {std::nullopt, "--wake, --udp, --crlf and --repeat do not go with --status"};
  for (const std::string& arg : positional) {
    for (std::string& host : SplitHosts(arg)) {
      // A command word where a host belongs: the user thinks --status needs one.
      if (qyr::MatchCommand(host) != qyr::Command::kUnknown)
        return {std::nullopt, "--status sends its own query; " + host + " is no host"};
      options.hosts.push_back(std::move(host));
    }
  }
  if (options.hosts_file.empty() && options.hosts.empty()) return {std::nullopt, "no host given"};
  options.command = std::string(qyr::CommandWord(qyr::Command::kStatus));
  return {options, {}};
}

static ParsedArgs KeygenArgs(const std::vector<std::string>& args) {
  Options options;
  options.keygen = true;
  options.key_base = std::string(kDefaultKeyBase);
  CLI::App app("qyrsend keygen", "qyrsend keygen");
  app.set_help_flag();
  app.add_option("--out", options.key_base)->check([](const std::string& base) {
    return base.empty() ? std::string("empty") : std::string();
  });
  try {
    app.parse(std::vector<std::string>(args.rbegin(), args.rend() - 1));
  } catch (const CLI::ParseError&) {
    return {std::nullopt, "expected keygen [--out BASE]"};
  }
  return {options, {}};
}

static ParsedArgs WithKey(Options options) {
  if (options.status || options.wake) return {std::nullopt, "--key goes only with a power command"};
  if (options.transport == Transport::Udp)
    return {std::nullopt, "--key signs over TCP; it does not go with --udp"};
  if (!PowerCommandNamed(options.command))
    return {std::nullopt, "--key signs QyrNOR_PC_OFF and QyrNOR_PC_REBOOT only"};
  return {options, {}};
}

namespace {

// The classic forms' flags and options. Each option that takes a value says in its own words what
// it needs, as a wrong value or none at all.
class ClassicCommandLine {
 public:
  explicit ClassicCommandLine(Options& options) : app_("qyrsend", "qyrsend") {
    app_.set_help_flag();
    // An unknown option is left over and named after the parse, in qyrsend's own words.
    app_.allow_extras();
    app_.add_flag("-h,--help", options.help);
    app_.add_flag("--wake", options.wake);
    app_.add_flag("--status", options.status);
    app_.add_flag("--json", options.json);
    app_.add_flag("--crlf", options.crlf);
    app_.add_flag_callback("--udp", [&] { options.transport = Transport::Udp; });
    Value("--broadcast", "--broadcast needs an IPv4 address", [&](const std::string& text) {
      const std::optional<qyr::Ipv4> address = qyr::ParseIpv4(text);
      if (address) options.broadcast = *address;
      return address.has_value();
    });
    repeat_ =
        Value("--repeat", "--repeat needs a count from 1 to " + std::to_string(kMaxWakeRepeat),
              [&](const std::string& text) {
                return ParseNumber<int>(text, 1, kMaxWakeRepeat, options.repeat);
              });
    port_ = Value("--port", "--port needs a number from 1 to 65535", [&](const std::string& text) {
      return ParseNumber<std::uint16_t>(text, 1, 65535, options.port);
    });
    Value("--timeout", "--timeout needs milliseconds from 1 to 600000",
          [&](const std::string& text) {
            return ParseNumber<int>(text, 1, 600000, options.timeout_ms);
          });
    Value("--key", "--key needs a key file (BASE.key of qyrsend keygen)",
          [&](const std::string& text) {
            options.key_file = text;
            return !text.empty();
          });
    Value("--zone", "--zone needs the name of a zone of the hosts file",
          [&](const std::string& text) {
            options.zone = text;
            return true;
          });
    Value("--hosts", "--hosts needs a file name", [&](const std::string& text) {
      options.hosts_file = text;
      return !text.empty();
    });
    app_.add_option("items", positional_);
  }

  // Parses `args`; empty when they are well-formed, else what is wrong.
  std::string Parse(const std::vector<std::string>& args) {
    try {
      app_.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ArgumentMismatch& e) {
      // Only the last argument can be an option without its value.
      for (const auto& [name, need] : needs_) {
        if (name == args.back()) return need;
      }
      return e.what();
    } catch (const CLI::ParseError& e) {
      return e.what();
    }
    for (const std::string& extra : app_.remaining()) {
      if (extra == "--") break;  // CLI11 keeps the mark; what follows it is items
      if (extra.size() > 1 && extra[0] == '-') return "unknown option " + extra;
    }
    return {};
  }

  const std::vector<std::string>& positional() const { return positional_; }
  bool PortGiven() const { return port_->count() > 0; }
  bool RepeatGiven() const { return repeat_->count() > 0; }

 private:
  CLI::Option* Value(const std::string& name, std::string need,
                     std::function<bool(const std::string&)> take) {
    needs_.emplace_back(name, need);
    return app_
        .add_option_function<std::string>(name,
                                          [need, take](const std::string& text) {
                                            if (!take(text)) throw CLI::ValidationError(need);
                                          })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }

  CLI::App app_;
  std::vector<std::pair<std::string, std::string>> needs_;  // option, what it needs
  std::vector<std::string> positional_;
  CLI::Option* repeat_ = nullptr;
  CLI::Option* port_ = nullptr;
};

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  if (!args.empty() && args.front() == "keygen") return KeygenArgs(args);
  Options options;
  ClassicCommandLine line(options);
  if (std::string error = line.Parse(args); !error.empty()) return {std::nullopt, error};
  if (options.help) return {options, {}};
  const bool port_given = line.PortGiven();
  const bool repeat_given = line.RepeatGiven();
  const std::vector<std::string>& positional = line.positional();

  if (options.json && !options.status) return {std::nullopt, "--json goes only with --status"};
  if (options.zone && options.hosts_file.empty())
    return {std::nullopt, "--zone goes only with --hosts"};
  if (!options.key_file.empty() && (options.status || options.wake))
    return WithKey(std::move(options));
  if (options.status) return StatusArgs(std::move(options), positional, repeat_given);
  if (options.wake) return WakeArgs(std::move(options), positional, port_given);
  if (repeat_given) return {std::nullopt, "--repeat goes only with --wake"};
  // With --hosts the host list on the command line is optional.
  const std::size_t wanted_min = options.hosts_file.empty() ? 2 : 1;
  if (positional.size() < wanted_min || positional.size() > 2)
    return {std::nullopt, options.hosts_file.empty() ? "expected HOST[,HOST...] COMMAND"
                                                     : "expected [HOST[,HOST...]] COMMAND"};
  if (positional.size() == 2) options.hosts = SplitHosts(positional[0]);
  options.command = positional.back();
  if (options.command.empty()) return {std::nullopt, "the command is empty"};
  if (options.hosts_file.empty() && options.hosts.empty()) return {std::nullopt, "no host given"};
  if (!options.key_file.empty()) return WithKey(std::move(options));
  return {options, {}};
}

std::string_view UsageText() {
  return "usage: qyrsend [--udp] [--port N] [--timeout MS] [--crlf] [--hosts FILE] [--key FILE]\n"
         "               HOST[:PORT][,HOST[:PORT]...] COMMAND\n"
         "\n"
         "Sends COMMAND (for example QyrNOR_PC_CHECK) to every host at once and prints one\n"
         "line per host: OK, ERR, timeout, refused, refused by the PC (its AllowFrom does not\n"
         "list this machine), no reply (UDP), or an error.\n"
         "\n"
         "  --udp          send a datagram instead of a TCP message (UDP is never answered)\n"
         "  --port N       port of every host without its own :PORT (default 26908)\n"
         "  --timeout MS   how long to wait for the whole hall, names included (default 2000)\n"
         "  --crlf         append CR LF to the command\n"
         "  --hosts FILE   read hosts from FILE as well (commas, blanks or lines; # comments;\n"
         "                 UTF-8 text, up to 1 MB; [ZONE] lines start a zone, name=NAME names a "
         "PC)\n"
         "  --zone NAME    only the PCs of that zone of the hosts file (with --status and\n"
         "                 --wake too)\n"
         "  --key FILE     sign QyrNOR_PC_OFF or QyrNOR_PC_REBOOT with the private key in FILE\n"
         "                 (of qyrsend keygen): for PCs with SignedBy set, TCP only\n"
         "\n"
         "Exit code: 0 every host answered OK; 1 some host did not; 2 usage error;\n"
         "3 UDP datagrams sent, none could be confirmed.\n"
         "\n"
         "       qyrsend --status [--json] [--port N] [--timeout MS] [--hosts FILE]\n"
         "               [HOST[:PORT][,HOST[:PORT]...]...]\n"
         "\n"
         "Asks every host at once for its status (QyrNOR_PC_STATUS) and prints one line per\n"
         "host: the round trip, how long QyrDelay has run and the state of its four programs\n"
         "(none, wait, run, ended, restart, failed, opened); or timeout, refused, or ERR from\n"
         "an older QyrDelay. Then a line counting hosts up, programs running and hosts not\n"
         "answering.\n"
         "\n"
         "  --json         one JSON object per host and line instead, for scripts\n"
         "\n"
         "Exit code: 0 every host answered with its status and no program failed to start;\n"
         "1 otherwise; 2 usage error.\n"
         "\n"
         "       qyrsend --wake [--broadcast ADDR] [--port N] [--repeat COUNT] [--hosts FILE]\n"
         "               MAC[,MAC...]\n"
         "\n"
         "Wakes PCs with Wake-on-LAN magic packets (MAC aa:bb:cc:dd:ee:ff or\n"
         "aa-bb-cc-dd-ee-ff) over UDP to ADDR (default 255.255.255.255) on port N (default 9),\n"
         "each packet COUNT times (1 to 100, default 3), 100 ms apart.\n"
         "A hosts file may carry each PC's MAC after its address; --wake takes the MACs. A line\n"
         "that ends in neither a host nor a well-formed MAC is an error, and nothing is sent.\n"
         "Exit code: 0 every packet sent; 1 a send failed; 2 a malformed MAC, hosts line or\n"
         "option.\n"
         "\n"
         "       qyrsend keygen [--out BASE]\n"
         "\n"
         "Writes a new key pair for signed power commands: BASE.key (default hall.key), the\n"
         "private key, readable by its owner only, and BASE.pub, the public key for SignedBy=\n"
         "on every PC. An existing key is never overwritten (exit 2).\n"
         "\n"
         "       qyrsend serve --hosts FILE [--listen ADDR:PORT] [--token-file FILE] [--log FILE]\n"
         "               [--every S] [--key FILE] [--timeout MS] [--port N] [--broadcast ADDR]\n"
         "       qyrsend start --hosts FILE [--zone NAME] [--json] [--key FILE] [--zone-gap S]\n"
         "               [--wake-batch N] [--wake-tries N]\n"
         "\n"
         "serve: the hall page and its JSON API (default http://127.0.0.1:8908/, with a token);\n"
         "start: wakes the hall zone after zone until every PC's programs run, exit code 0 only\n"
         "when every PC became ready. qyrsend serve --help and qyrsend start --help say more.\n";
}

}  // namespace qyrsend
