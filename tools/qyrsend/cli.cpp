#include "cli.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "hall_key.h"
#include "remote/allow_list.h"
#include "remote/protocol.h"
#include "status.h"

namespace qyrsend {

namespace {

template <typename Int>
bool ParseNumber(std::string_view text, Int low, Int high, Int& out) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return false;
  out = value;
  return true;
}

}  // namespace

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

namespace {

std::string Describe(const Outcome& outcome) {
  switch (outcome.verdict) {
    case Verdict::Ok:
      return outcome.detail.empty() ? "OK" : Printable(outcome.detail);
    case Verdict::Err:
      return outcome.detail.empty() ? "ERR" : "ERR " + outcome.detail;
    case Verdict::Unexpected:
      return "reply \"" + Printable(outcome.detail) + "\"";
    case Verdict::Closed:
      return "closed without reply";
    case Verdict::NoReply:
      return "no reply (UDP)";
    case Verdict::Timeout:
      return "timeout";
    case Verdict::Refused:
      return "refused";
    case Verdict::RefusedByPc:
      return "refused by the PC";
    case Verdict::Error:
      return "error: " + outcome.detail;
  }
  return "error";
}

}  // namespace

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
  if (args.size() == 1) return {options, {}};
  if (args.size() == 3 && args[1] == "--out" && !args[2].empty()) {
    options.key_base = args[2];
    return {options, {}};
  }
  return {std::nullopt, "expected keygen [--out BASE]"};
}

static ParsedArgs WithKey(Options options) {
  if (options.status || options.wake) return {std::nullopt, "--key goes only with a power command"};
  if (options.transport == Transport::Udp)
    return {std::nullopt, "--key signs over TCP; it does not go with --udp"};
  if (!PowerCommandNamed(options.command))
    return {std::nullopt, "--key signs QyrNOR_PC_OFF and QyrNOR_PC_REBOOT only"};
  return {options, {}};
}

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  if (!args.empty() && args.front() == "keygen") return KeygenArgs(args);
  Options options;
  bool port_given = false;
  bool repeat_given = false;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--wake") {
      options.wake = true;
    } else if (arg == "--status") {
      options.status = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--broadcast") {
      const std::optional<qyr::Ipv4> address = value(text) ? qyr::ParseIpv4(text) : std::nullopt;
      if (!address) return {std::nullopt, "--broadcast needs an IPv4 address"};
      options.broadcast = *address;
    } else if (arg == "--repeat") {
      repeat_given = true;
      if (!value(text) || !ParseNumber<int>(text, 1, kMaxWakeRepeat, options.repeat))
        return {std::nullopt, "--repeat needs a count from 1 to " + std::to_string(kMaxWakeRepeat)};
    } else if (arg == "--udp") {
      options.transport = Transport::Udp;
    } else if (arg == "--crlf") {
      options.crlf = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
      return {options, {}};
    } else if (arg == "--port") {
      port_given = true;
      if (!value(text) || !ParseNumber<std::uint16_t>(text, 1, 65535, options.port))
        return {std::nullopt, "--port needs a number from 1 to 65535"};
    } else if (arg == "--timeout") {
      if (!value(text) || !ParseNumber<int>(text, 1, 600000, options.timeout_ms))
        return {std::nullopt, "--timeout needs milliseconds from 1 to 600000"};
    } else if (arg == "--key") {
      if (!value(options.key_file) || options.key_file.empty())
        return {std::nullopt, "--key needs a key file (BASE.key of qyrsend keygen)"};
    } else if (arg == "--hosts") {
      if (!value(options.hosts_file) || options.hosts_file.empty())
        return {std::nullopt, "--hosts needs a file name"};
    } else if (arg == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return {std::nullopt, "unknown option " + arg};
    } else {
      positional.push_back(arg);
    }
  }

  if (options.json && !options.status) return {std::nullopt, "--json goes only with --status"};
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

std::vector<std::string> SplitHosts(std::string_view text) {
  std::vector<std::string> hosts;
  std::string current;
  bool comment = false;
  auto flush = [&] {
    if (!current.empty()) hosts.push_back(current);
    current.clear();
  };
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      comment = false;
      flush();
    } else if (comment) {
      continue;
    } else if (c == '#') {
      comment = true;
      flush();
    } else if (c == ',' || c == ' ' || c == '\t' || c == ';') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return hosts;
}

std::string_view WithoutBom(std::string_view text) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  return text.starts_with(kBom) ? text.substr(kBom.size()) : text;
}

std::size_t Utf8Length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the second byte's range, narrowed against overlong forms and surrogates
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

namespace {

// Why `bytes` are not text, naming the line; empty when they are.
std::string NotText(std::string_view bytes) {
  std::size_t line = 1;
  while (!bytes.empty()) {
    const std::size_t length = bytes.front() == '\0' ? 0 : Utf8Length(bytes);
    if (length == 0) {
      return (bytes.front() == '\0' ? "a NUL byte" : "a byte that is not UTF-8") +
             std::string(" in line ") + std::to_string(line);
    }
    line += bytes.front() == '\n' ? 1 : 0;
    bytes.remove_prefix(length);
  }
  return {};
}

}  // namespace

std::optional<std::string> ReadTextFile(const std::string& utf8_path, std::size_t max_bytes,
                                        std::string& error) {
  const std::filesystem::path path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8_path.data()), utf8_path.size()));
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = utf8_path + " is not a regular file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(max_bytes + 1, '\0');
  // The bound holds even when the file grows or is swapped for another after the look above.
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in && !in.eof()) {
    error = "cannot read " + utf8_path;
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > max_bytes) {
    constexpr std::size_t kMb = 1024 * 1024;
    error = utf8_path + " is over " +
            (max_bytes % kMb == 0 ? std::to_string(max_bytes / kMb) + " MB"
                                  : std::to_string(max_bytes / 1024) + " KB");
    return std::nullopt;
  }
  if (const std::string why = NotText(bytes); !why.empty()) {
    error = utf8_path + " is not text: " + why;
    return std::nullopt;
  }
  return bytes;
}

std::optional<Target> ParseTarget(std::string_view item, std::uint16_t default_port,
                                  std::string& error) {
  Target target{std::string(item), std::string(item), default_port};
  const std::size_t colon = item.find(':');
  if (colon != std::string_view::npos) {
    if (item.find(':', colon + 1) != std::string_view::npos) {
      error = "IPv6 addresses are not supported: " + std::string(item);
      return std::nullopt;
    }
    target.host = std::string(item.substr(0, colon));
    if (!ParseNumber<std::uint16_t>(item.substr(colon + 1), 1, 65535, target.port)) {
      error = "bad port in " + std::string(item);
      return std::nullopt;
    }
  }
  if (target.host.empty()) {
    error = "empty host name in " + std::string(item);
    return std::nullopt;
  }
  return target;
}

std::optional<Outcome> ClassifyReply(std::string_view bytes) {
  if (bytes == "OK") return Outcome{Verdict::Ok, {}};
  if (bytes == "ERR") return Outcome{Verdict::Err, {}};
  // A reply split across two reads: wait for the rest.
  if (!bytes.empty() &&
      (std::string_view("OK").starts_with(bytes) || std::string_view("ERR").starts_with(bytes)))
    return std::nullopt;
  return Outcome{Verdict::Unexpected, std::string(bytes)};
}

std::optional<Outcome> ClassifyStatusQueryReply(std::string_view bytes) {
  if (!bytes.starts_with("OK ")) return ClassifyReply(bytes);
  if (ParseStatusReply(bytes).error == StatusError::kCutShort) return std::nullopt;
  return Outcome{Verdict::Ok, std::string(bytes)};
}

ReplyRule RuleFor(std::string_view command) {
  // The program's own matcher: a message that also holds an older word gets the plain OK.
  return qyr::MatchCommand(command) == qyr::Command::kStatus ? ClassifyStatusQueryReply
                                                             : ClassifyReply;
}

std::string Report(const std::vector<Target>& targets, const std::vector<Outcome>& outcomes) {
  std::size_t width = 0;
  for (const Target& t : targets) width = std::max(width, t.label.size());
  std::string out;
  for (std::size_t i = 0; i < targets.size() && i < outcomes.size(); ++i) {
    out += targets[i].label;
    out.append(width - targets[i].label.size() + 2, ' ');
    out += Describe(outcomes[i]);
    out += '\n';
  }
  return out;
}

int ExitCode(const std::vector<Outcome>& outcomes) {
  bool unconfirmed = false;
  for (const Outcome& o : outcomes) {
    if (o.verdict == Verdict::NoReply) {
      unconfirmed = true;
    } else if (o.verdict != Verdict::Ok) {
      return 1;
    }
  }
  return unconfirmed ? 3 : 0;
}

std::optional<Mac> ParseMac(std::string_view text) {
  if (!LooksLikeMac(text) || text[2] != text[5] || text[2] != text[8] || text[2] != text[11] ||
      text[2] != text[14])
    return std::nullopt;
  Mac mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const std::string_view pair = text.substr(i * 3, 2);
    const auto [end, ec] = std::from_chars(pair.data(), pair.data() + 2, mac[i], 16);
    if (ec != std::errc() || end != pair.data() + 2) return std::nullopt;
  }
  return mac;
}

bool LooksLikeMac(std::string_view item) {
  if (item.size() != 17) return false;
  for (std::size_t i = 2; i < item.size(); i += 3) {
    if (item[i] != ':' && item[i] != '-') return false;
  }
  return true;
}

std::string MacText(const Mac& mac) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : mac) {
    if (!out.empty()) out += ':';
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string MagicPacket(const Mac& mac) {
  std::string packet(6, '\xFF');
  for (int i = 0; i < 16; ++i) packet.append(mac.begin(), mac.end());
  return packet;
}

std::optional<std::vector<Mac>> MacsOf(const std::vector<std::string>& items, std::string& error) {
  std::vector<Mac> macs;
  for (const std::string& item : items) {
    if (!LooksLikeMac(item)) continue;
    const std::optional<Mac> mac = ParseMac(item);
    if (!mac) {
      error = "malformed MAC " + item;
      return std::nullopt;
    }
    macs.push_back(*mac);
  }
  return macs;
}

FieldKind KindOfField(std::string_view item) {
  if (ParseMac(item)) return FieldKind::kMac;
  if (LooksLikeMac(item)) return FieldKind::kNeither;
  std::string error;
  const std::optional<Target> target = ParseTarget(item, kDefaultPort, error);
  if (!target) return FieldKind::kNeither;
  const std::string_view host = target->host;
  if (qyr::ParseIpv4(host)) return FieldKind::kHost;
  std::size_t hex_digits = 0;
  bool hex_only = true;
  for (const char c : host) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      ++hex_digits;
    } else if (c != '-' && c != '.') {
      hex_only = false;
    }
  }
  if (hex_only && hex_digits >= 10) return FieldKind::kNeither;
  // A name: letters, digits, "-", "_" and any non-ASCII character, in dot-separated labels.
  if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
    return FieldKind::kNeither;
  for (const char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '-' && c != '_' && c != '.' && u < 0x80)
      return FieldKind::kNeither;
  }
  return FieldKind::kHost;
}

std::optional<std::string> BadWakeLine(std::string_view text) {
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::vector<std::string> fields = SplitHosts(line);
    if (!fields.empty() && KindOfField(fields.back()) == FieldKind::kNeither)
      return "line " + std::to_string(number) + ": " + fields.back() +
             " is neither a host nor a MAC";
  }
  return std::nullopt;
}

std::string WakeReport(const std::vector<Mac>& macs, const std::vector<std::string>& errors) {
  std::string out;
  for (std::size_t i = 0; i < macs.size() && i < errors.size(); ++i) {
    out += MacText(macs[i]) + "  " + (errors[i].empty() ? "sent" : "error: " + errors[i]) + '\n';
  }
  return out;
}

int WakeExitCode(const std::vector<std::string>& errors) {
  for (const std::string& e : errors) {
    if (!e.empty()) return 1;
  }
  return 0;
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
         "                 UTF-8 text, up to 1 MB)\n"
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
         "on every PC. An existing key is never overwritten (exit 2).\n";
}

}  // namespace qyrsend
