#pragma once
// What a host's reply means, how a run is reported line by line, and its exit code. No sockets
// here.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts_file.h"

namespace qyrsend {

inline constexpr int kDefaultTimeoutMs = 2000;

enum class Transport { Tcp, Udp };

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

}  // namespace qyrsend
