#pragma once
// The load generator's shared connection helper: non-blocking loopback connects, a command
// sent and its reply read, timing and the figures printed. Each mode is a file of its own
// beside it. Loopback only: the address is fixed.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyr::load {

using Clock = std::chrono::steady_clock;
inline constexpr std::string_view kCheck = "QyrNOR_PC_CHECK";
inline constexpr std::string_view kStatus = "QyrNOR_PC_STATUS";

struct Options {
  std::string mode;
  std::vector<int> ports;
  int conns = 8;
  int msgs = 3000;
  int warmup = 200;
  int block = 1;     // round trips to one port in a row
  int pause_ms = 0;  // idle time before each block, for what the last server left to do
  double seconds = 3;
  int slices = 4;
  std::vector<int> pids;
  int server_pid = 0;
  int count = 10000;
  int parallel = 32;
  int peers = 8;
  long commands = 1000000;
  double timeout_s = 60;
};

Clock::duration FromSeconds(double s);
double Seconds(Clock::duration d);

// A non-blocking connect to 127.0.0.1:port, from `source` when given; -1 if the socket cannot
// even be created or bound.
int StartConnect(int port, std::uint32_t source = 0);
bool ConnectDone(int fd);
// Waits for the connect to finish; false on failure or when the deadline passes.
bool AwaitConnect(int fd, Clock::time_point deadline);
// A UDP socket connected to 127.0.0.1:port, or -1.
int ConnectUdp(int port);

// The value below which a share `p` of the samples lie (reorders them).
double Percentile(std::vector<double>& v, double p);

enum class Reply { kOk, kErr, kBad };

// Takes one reply off the front of the bytes received; nothing while a reply is still partial.
std::optional<Reply> TakeReply(std::string& pending);

struct Conn {
  int fd = -1;
  std::string pending;
  Clock::time_point sent_at;
  bool in_flight = false;
  bool answered = false;      // since the slice began
  long replies = 0;           // within the measuring window
  double longest_wait_s = 0;  // for a reply, within the measuring window
};

bool SendCheck(Conn& c);
bool SendText(int fd, std::string_view text);
// Reads what has arrived; the replies completed, or nullopt when the connection is lost.
std::optional<std::vector<Reply>> ReadReplies(Conn& c);
// One round trip on a connection with nothing else in flight: microseconds, or nullopt.
std::optional<double> RoundTrip(Conn& c, Clock::time_point deadline, long& errs);
// Bytes of one reply that may span reads: until `enough` bytes have come or the deadline.
std::optional<std::string> ReadExactly(int fd, std::size_t enough, Clock::time_point deadline);

// Which of `n` servers takes the k-th place in turn `turn`: who goes first rotates, and every
// n turns the direction turns round, so that over 2n turns each server follows each other
// equally often. What one server still does after its reply (the counting floor's last
// pending-count query, its queued notifications) then falls on the others alike, not on the
// one that always follows it.
std::size_t TurnOrder(std::size_t turn, std::size_t k, std::size_t n);

// CPU time of all of a process's threads so far, in nanoseconds (0 for no process); of several.
std::uint64_t CpuNs(int pid);
std::uint64_t CpuNs(const std::vector<int>& pids);
// Waits `min_ms`, then until the processes have been all but idle for a moment (at most 5 s
// more): what a server left queued behind its last reply is done before the next is timed.
void AwaitQuiet(const std::vector<int>& pids, int min_ms);

// The modes; each returns the exit status, 0 when every command was answered as it must be.
int RunLatency(const Options& o);
int RunThroughput(const Options& o);
int RunChurn(const Options& o);
int RunSoak(const Options& o);
int RunNewcomer(const Options& o);
int RunWait(const Options& o);
int RunSigned(const Options& o);

}  // namespace qyr::load
