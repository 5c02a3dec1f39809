#pragma once
// What qyrsend is asked to do and how it reports: argument and host-list parsing, reply
// classification, the report lines and the exit code. No sockets here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyrsend {

inline constexpr std::uint16_t kDefaultPort = 26908;
inline constexpr int kDefaultTimeoutMs = 2000;

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
  Refused,
  Error,  // could not resolve, no route, ...
};

struct Outcome {
  Verdict verdict = Verdict::Error;
  std::string detail;  // reply bytes for Unexpected, the reason for Error
};

// Classifies the bytes received so far; nullopt while they may still grow into "OK" or "ERR".
std::optional<Outcome> ClassifyReply(std::string_view bytes);

// One line per host, in the order given, host names padded to one column.
std::string Report(const std::vector<Target>& targets, const std::vector<Outcome>& outcomes);

// 0: every host said "OK". 3: nothing failed, but some UDP sends could not be confirmed.
// 1: anything else.
int ExitCode(const std::vector<Outcome>& outcomes);

inline constexpr int kUsageExitCode = 2;

std::string_view UsageText();

}  // namespace qyrsend
