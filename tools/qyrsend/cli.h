#pragma once
// What qyrsend is asked to do and how it reports: argument and host-list parsing, reply
// classification, the report lines and the exit code. No sockets here.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyrsend {

inline constexpr std::uint16_t kDefaultPort = 26908;
inline constexpr int kDefaultTimeoutMs = 2000;
inline constexpr std::uint16_t kDefaultWakePort = 9;
inline constexpr int kDefaultWakeRepeat = 3;
inline constexpr int kMaxWakeRepeat = 100;

enum class Transport { Tcp, Udp };

struct Options {
  Transport transport = Transport::Tcp;
  std::uint16_t port = kDefaultPort;
  int timeout_ms = kDefaultTimeoutMs;
  bool crlf = false;
  bool help = false;
  std::string hosts_file;          // empty: none
  std::vector<std::string> hosts;  // from the command line, as written
  std::string command;
  // --wake: Wake-on-LAN magic packets to the MACs in `command` (and the hosts file).
  bool wake = false;
  std::uint32_t broadcast = 0xFFFFFFFF;  // IPv4, host byte order
  int repeat = kDefaultWakeRepeat;       // each magic packet this many times
  // --status: asks every host for its status (`command` is the query word); --json with it.
  bool status = false;
  bool json = false;
  // keygen: a new key pair into key_base.key and key_base.pub; nothing is sent.
  bool keygen = false;
  std::string key_base;
  // --key: a power command goes as the signed exchange, by the private key in this file.
  std::string key_file;
};

struct ParsedArgs {
  std::optional<Options> options;  // empty on a usage error
  std::string error;
};

// `args` without the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

// Host items from a command-line list or a hosts file: separated by commas, blanks or line
// ends; "#" starts a comment that runs to the end of the line.
std::vector<std::string> SplitHosts(std::string_view text);

// A hosts file's text without the UTF-8 byte-order mark that some editors put first.
std::string_view WithoutBom(std::string_view text);

// A hosts file is a list of addresses: anything larger is no hosts file.
inline constexpr std::size_t kMaxHostsFileBytes = 1024 * 1024;

// The bytes of the file at `utf8_path`, read no further than `max_bytes`; empty with `error` set
// when it cannot be read, is no regular file (a folder, a device), is larger than that or is not
// UTF-8 text.
std::optional<std::string> ReadTextFile(const std::string& utf8_path, std::size_t max_bytes,
                                        std::string& error);

// Length of the UTF-8 sequence at the start of `text`, 0 when it is not a well-formed one.
std::size_t Utf8Length(std::string_view text);

struct Target {
  std::string label;  // as the user wrote it
  std::string host;
  std::uint16_t port = kDefaultPort;
};

// "HOST" or "HOST:PORT"; empty with `error` set when the item is unusable.
std::optional<Target> ParseTarget(std::string_view item, std::uint16_t default_port,
                                  std::string& error);

enum class Verdict {
  Ok,          // replied "OK"
  Err,         // replied "ERR"
  Unexpected,  // replied something else
  Closed,      // the peer closed without a reply
  NoReply,     // UDP: sent, nothing came back (the program never answers datagrams)
  Timeout,
  Refused,      // nothing listens on the port
  RefusedByPc,  // taken and dropped at once, before a word: its allow-list refuses this sender
  Error,        // could not resolve, no route, ...
};

struct Outcome {
  Verdict verdict = Verdict::Error;
  // Reply bytes for Unexpected and for a status line taken as Ok, what had come for Timeout, the
  // reason for Error.
  std::string detail;
};

// Classifies the bytes received so far; nullopt while they may still grow into "OK" or "ERR".
std::optional<Outcome> ClassifyReply(std::string_view bytes);

// The same for a status query sent as a command: its "OK ..." status line is an OK, printed whole.
std::optional<Outcome> ClassifyStatusQueryReply(std::string_view bytes);

// How the bytes a host sent are judged, depending on what was asked.
using ReplyRule = std::optional<Outcome> (*)(std::string_view bytes);
ReplyRule RuleFor(std::string_view command);

struct Answer {
  Outcome outcome;
  // From the query's last byte sent to the whole reply; none when no whole reply came.
  std::optional<std::chrono::microseconds> round_trip;
};

// Reply bytes as a report shows them: ASCII kept, CR and LF as \r and \n, quotes and backslashes
// escaped, any other byte as \xNN.
std::string Printable(std::string_view bytes);

// One line per host, in the order given, host names padded to one column.
std::string Report(const std::vector<Target>& targets, const std::vector<Outcome>& outcomes);

// 0: every host said "OK". 3: nothing failed, but some UDP sends could not be confirmed.
// 1: anything else.
int ExitCode(const std::vector<Outcome>& outcomes);

inline constexpr int kUsageExitCode = 2;

using Mac = std::array<std::uint8_t, 6>;

// "aa:bb:cc:dd:ee:ff" or "aa-bb-cc-dd-ee-ff", either letter case, one separator throughout.
std::optional<Mac> ParseMac(std::string_view text);
// The shape of a MAC (17 characters, separators at every third): such an item of a hosts file
// is a MAC, never a host.
bool LooksLikeMac(std::string_view item);
std::string MacText(const Mac& mac);  // "aa:bb:cc:dd:ee:ff"

// Six bytes 0xFF, then the MAC sixteen times: 102 bytes.
std::string MagicPacket(const Mac& mac);

// The MACs of host-list items (MAC-shaped items only; host items are skipped). Empty with
// `error` set when a MAC-shaped item is not a MAC.
std::optional<std::vector<Mac>> MacsOf(const std::vector<std::string>& items, std::string& error);

enum class FieldKind {
  kHost,     // HOST or HOST:PORT: an IPv4 address or a name
  kMac,      // a well-formed MAC
  kNeither,  // a MAC written wrong ("aa:bb:cc:dd:ee:2", "aabbccddee03"), or no host at all
};
// Hex digits alone (with ":", "-" or "." between them), ten or more, are a MAC meant, never a
// name; a dotted address that is not IPv4 is no host either.
FieldKind KindOfField(std::string_view item);

// The first line of a hosts file whose last field is neither a host nor a MAC, for --wake,
// which would otherwise skip it silently: "line N: FIELD is neither a host nor a MAC".
std::optional<std::string> BadWakeLine(std::string_view text);

// One line per MAC: "sent" or "error: <reason>" (empty reason: sent).
std::string WakeReport(const std::vector<Mac>& macs, const std::vector<std::string>& errors);
// 0 when every packet went out, 1 otherwise.
int WakeExitCode(const std::vector<std::string>& errors);

std::string_view UsageText();

}  // namespace qyrsend
