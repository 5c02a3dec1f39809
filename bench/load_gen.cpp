// Load generator for the remote-control port, run natively against the program under Wine.
//
//   qyr_load latency    --port P [--port P2 ...] [--msgs M] [--warmup W] [--timeout S]
//       One connection per port, W unmeasured then M measured round trips of "QyrNOR_PC_CHECK",
//       each sent only after the previous reply: nothing queues, so each sample is the cost of
//       one message. With several ports the round trips take turns, one to each port, so a
//       burst of load from elsewhere on the machine falls on every server alike. Figures are
//       printed per port (p50_us_P=...).
//   qyr_load throughput --port P [--port P2 ...] [--conns N] [--seconds S] [--slices K]
//                       [--pid PID ...] [--server-pid W] [--timeout S]
//       N connections to each port, each always with one command in flight while its port is
//       served; counts the replies that arrive within S seconds a port. The ports take turns in
//       K slices of S/K seconds, who goes first rotating, so load from elsewhere on the machine
//       falls on every server alike. A slice's window starts once each of its connections has
//       been answered (at most 0.1 s, 1 s in a port's first slice, when the server neglects
//       one), and it ends with nothing left in flight. Every connection is waiting or being
//       served for the whole window, so throughput x mean wait = N holds, and a connection the
//       server neglects shows as a low count of its own. With --pid (one per port, in order)
//       the CPU time of that process and of W within the windows is printed per reply.
//   qyr_load churn --port P [--count K] [--parallel C] [--timeout S]
//       K connections opened and closed, C at a time; each waits for the server's side to end.
//   qyr_load soak  --port P [--peers N] [--commands C] [--timeout S]
//       N peers at once, each with a TCP connection and a UDP socket of its own. A peer's step is
//       one datagram, then one command over TCP whose reply it waits for; every 100th TCP command
//       is QyrNOR_PC_STATUS, the others and every datagram QyrNOR_PC_CHECK. C commands in all,
//       half over each protocol. Every TCP reply must be exactly "OK" (a whole status line
//       "OK up=... 1=... 4=..." for a status) within 10 s, and no datagram may be answered. The
//       program's handling of the datagrams is for the caller to count (its command log).
//   qyr_load newcomer --port P [--peers N] [--count K] [--timeout S]
//       N peers connect and each sends a check again as soon as it is answered; right behind
//       them, K new peers one after another connect and send one check each, the first meeting
//       the chat's connections still arriving, the later ones the chat in full swing. Prints how
//       long the new peers waited for their answers (p50, max), how many got none within 3 s,
//       and the replies of the least served chatty peer.
//       The chatty peers come from 127.0.0.2 and up, 50 an address, so that none of them holds
//       as many connections as the program allows one address; the new peers from 127.0.0.1.
//   qyr_load wait  --port P [--timeout S]
//       Connects until the port accepts; prints the wall-clock time it first did.
//
// Results are printed as key=value lines for bench/run.sh. Loopback only: the address is fixed.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "remote/signed_command.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::string_view kCheck = "QyrNOR_PC_CHECK";
constexpr std::string_view kStatus = "QyrNOR_PC_STATUS";

struct Options {
  std::string mode;
  std::vector<int> ports;
  int conns = 8;
  int msgs = 3000;
  int warmup = 200;
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

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: qyr_load latency|throughput|churn|soak|newcomer|wait|signed --port P "
               "[--msgs M] [--warmup W]"
               " [--conns N] [--seconds S] [--slices K] [--pid PID] [--server-pid W] [--count K]"
               " [--parallel C]"
               " [--peers N] [--commands C] [--timeout S]\n");
  std::exit(2);
}

Options ParseArgs(int argc, char** argv) {
  if (argc < 2) Usage();
  Options o;
  o.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--port")
      o.ports.push_back(std::atoi(value));
    else if (key == "--conns")
      o.conns = std::atoi(value);
    else if (key == "--msgs")
      o.msgs = std::atoi(value);
    else if (key == "--warmup")
      o.warmup = std::atoi(value);
    else if (key == "--seconds")
      o.seconds = std::atof(value);
    else if (key == "--slices")
      o.slices = std::atoi(value);
    else if (key == "--pid")
      o.pids.push_back(std::atoi(value));
    else if (key == "--server-pid")
      o.server_pid = std::atoi(value);
    else if (key == "--count")
      o.count = std::atoi(value);
    else if (key == "--parallel")
      o.parallel = std::atoi(value);
    else if (key == "--peers")
      o.peers = std::atoi(value);
    else if (key == "--commands")
      o.commands = std::atol(value);
    else if (key == "--timeout")
      o.timeout_s = std::atof(value);
    else
      Usage();
  }
  if (o.ports.empty() ||
      std::any_of(o.ports.begin(), o.ports.end(), [](int p) { return p <= 0 || p > 65535; }) ||
      o.conns <= 0 || o.msgs <= 0 || o.warmup < 0 || o.seconds <= 0 || o.slices <= 0 ||
      o.count < 0 || o.parallel <= 0 || o.peers <= 0 || o.commands < 0)
    Usage();
  return o;
}

Clock::duration FromSeconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A non-blocking connect to 127.0.0.1:port, from `source` when given; -1 if the socket cannot
// even be created or bound.
int StartConnect(int port, std::uint32_t source = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (source != 0) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) < 0) {
      close(fd);
      return -1;
    }
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  // The server answers each read on its own, so every command must leave as its own segment.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool ConnectDone(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

// Waits for the connect to finish; false on failure or when the deadline passes.
bool AwaitConnect(int fd, Clock::time_point deadline) {
  pollfd p{fd, POLLOUT, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) return ConnectDone(fd);
    if (r < 0 && errno != EINTR) return false;
  }
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return v[k];
}

enum class Reply { kOk, kErr, kBad };

// Takes one reply off the front of the bytes received; nothing while a reply is still partial.
std::optional<Reply> TakeReply(std::string& pending) {
  auto take = [&pending](std::size_t n, Reply r) {
    pending.erase(0, n);
    return r;
  };
  if (pending.starts_with("OK")) return take(2, Reply::kOk);
  if (pending.starts_with("ERR")) return take(3, Reply::kErr);
  const bool partial = pending.size() < 3 && (std::string_view("ERR").starts_with(pending) ||
                                              std::string_view("OK").starts_with(pending));
  if (pending.empty() || partial) return std::nullopt;
  return take(pending.size(), Reply::kBad);
}

struct Conn {
  int fd = -1;
  std::string pending;
  Clock::time_point sent_at;
  bool in_flight = false;
  bool answered = false;      // since the slice began
  long replies = 0;           // within the measuring window
  double longest_wait_s = 0;  // for a reply, within the measuring window
};

bool SendCheck(Conn& c) {
  c.sent_at = Clock::now();
  return send(c.fd, kCheck.data(), kCheck.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(kCheck.size());
}

// Reads what has arrived; the replies completed, or nullopt when the connection is lost.
std::optional<std::vector<Reply>> ReadReplies(Conn& c) {
  char buf[256];
  const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::vector<Reply>{};
  if (n <= 0) return std::nullopt;
  c.pending.append(buf, static_cast<std::size_t>(n));
  std::vector<Reply> replies;
  while (const auto r = TakeReply(c.pending)) replies.push_back(*r);
  return replies;
}

// One round trip on a connection with nothing else in flight: microseconds, or nullopt.
std::optional<double> RoundTrip(Conn& c, Clock::time_point deadline, long& errs) {
  if (!SendCheck(c)) return std::nullopt;
  pollfd p{c.fd, POLLIN, 0};
  while (Clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    const auto replies = ReadReplies(c);
    if (!replies) return std::nullopt;
    if (replies->empty()) continue;
    const double us = Seconds(Clock::now() - c.sent_at) * 1e6;
    for (const Reply r : *replies) errs += r == Reply::kOk ? 0 : 1;
    return us;
  }
  return std::nullopt;
}

void PrintLatency(int port, std::vector<double>& samples, long errs) {
  double sum = 0;
  for (const double x : samples) sum += x;
  const double mean = samples.empty() ? 0.0 : sum / static_cast<double>(samples.size());
  std::printf("samples_%d=%zu\nnot_ok_%d=%ld\nmean_us_%d=%.1f\n", port, samples.size(), port, errs,
              port, mean);
  std::printf("p50_us_%d=%.1f\np90_us_%d=%.1f\np99_us_%d=%.1f\nmax_us_%d=%.1f\n", port,
              Percentile(samples, 0.50), port, Percentile(samples, 0.90), port,
              Percentile(samples, 0.99), port, Percentile(samples, 1.0));
}

int RunLatency(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  const std::size_t n = o.ports.size();
  std::vector<Conn> conns(n);
  std::vector<std::vector<double>> samples(n);
  std::vector<long> errs(n, 0);
  std::vector<bool> lost(n, false);
  for (std::size_t j = 0; j < n; ++j) {
    conns[j].fd = StartConnect(o.ports[j]);
    lost[j] = conns[j].fd < 0 || !AwaitConnect(conns[j].fd, deadline);
  }
  for (int i = 0; i < o.warmup + o.msgs; ++i) {
    // Who goes first rotates, so no server always follows the same one.
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t j = (static_cast<std::size_t>(i) + k) % n;
      if (lost[j]) continue;
      const auto us = RoundTrip(conns[j], deadline, errs[j]);
      lost[j] = !us;
      if (us && i >= o.warmup) samples[j].push_back(*us);
    }
  }
  bool complete = true;
  for (std::size_t j = 0; j < n; ++j) {
    if (conns[j].fd >= 0) close(conns[j].fd);
    complete = complete && samples[j].size() == static_cast<std::size_t>(o.msgs) && errs[j] == 0;
    PrintLatency(o.ports[j], samples[j], errs[j]);
  }
  return complete ? 0 : 1;
}

// Bytes of one reply that may span reads: until `enough` bytes have come or the deadline.
std::optional<std::string> ReadExactly(int fd, std::size_t enough, Clock::time_point deadline) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  while (got.size() < enough && Clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

bool SendText(int fd, std::string_view text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// A QyrDelay with a hall key: on one connection, a plain check and then a power command's whole
// challenge in turns (the nonce asked, then a signed command sent over it). The signature is a
// well-formed one by another key, so the PC does all of its checking, answers ERR and nothing
// powers off.
int RunSigned(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  Conn c;
  c.fd = StartConnect(o.ports[0]);
  if (c.fd < 0 || !AwaitConnect(c.fd, deadline)) return 1;
  const qyr::Signature other_key = *qyr::HexDecode<qyr::kSignatureBytes>(
      "2b42f576d07f4165ff65d1f3b1500f81e44c316f1f0b3ef57325b69aca46104f"
      "dc42c2122d6392cd3e3a993a89502a8198c1886fe69d262c4b329bdb6b63faf1");
  const std::size_t nonce_reply = qyr::NonceReply(std::string(2 * qyr::kNonceBytes, '0')).size();
  std::vector<double> checks, nonces, challenges;
  long errs = 0, wrong = 0;
  for (int i = 0; i < o.warmup + o.msgs; ++i) {
    const auto check = RoundTrip(c, deadline, errs);
    const auto asked = Clock::now();
    if (!check || !SendText(c.fd, "QyrNOR_PC_NONCE")) return 1;
    const auto reply = ReadExactly(c.fd, nonce_reply, deadline);
    const auto nonce = reply ? qyr::ParseNonceReply(*reply) : std::nullopt;
    if (!nonce) {
      std::fprintf(stderr, "no nonce: %s\n", reply.value_or("<lost>").c_str());
      return 1;
    }
    const auto nonced = Clock::now();
    if (!SendText(c.fd, qyr::SignedCommandMessage(qyr::Command::kPowerOff, other_key))) return 1;
    const auto answer = ReadExactly(c.fd, 3, deadline);
    if (!answer) return 1;
    wrong += *answer == "ERR" ? 0 : 1;
    if (i < o.warmup) continue;
    checks.push_back(*check);
    nonces.push_back(Seconds(nonced - asked) * 1e6);
    challenges.push_back(Seconds(Clock::now() - asked) * 1e6);
  }
  close(c.fd);
  std::printf("check_p50_us=%.1f\nnonce_p50_us=%.1f\nchallenge_p50_us=%.1f\n",
              Percentile(checks, 0.50), Percentile(nonces, 0.50), Percentile(challenges, 0.50));
  std::printf("challenge_p99_us=%.1f\nnot_refused=%ld\nnot_ok=%ld\n", Percentile(challenges, 0.99),
              wrong, errs);
  return wrong == 0 && errs == 0 ? 0 : 1;
}

// CPU time of all of a process's threads so far, in nanoseconds (0 for no process).
std::uint64_t CpuNs(int pid) {
  if (pid <= 0) return 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  std::uint64_t sum = 0;
  if (DIR* tasks = opendir(dir.c_str())) {
    while (const dirent* task = readdir(tasks)) {
      if (task->d_name[0] == '.') continue;
      std::ifstream stat(dir + "/" + task->d_name + "/schedstat");
      std::uint64_t ns = 0;
      if (stat >> ns) sum += ns;
    }
    closedir(tasks);
  }
  return sum;
}

// One server of a throughput run: its connections and what its windows gave.
struct Target {
  int port = 0;
  int pid = 0;
  std::vector<Conn> conns;
  bool warm = false;  // has had its first, longer warm-up
  double window_s = 0;
  long replies = 0, all = 0, errs = 0, lost = 0;
  std::uint64_t cpu_ns = 0;
  double longest_wait_s = 0;
};

// Serves the connections of one target until `until` says stop; counts replies within
// [start, end). Each connection sends again on its reply while `resend`.
template <typename Until>
void Drive(Target& t, Clock::time_point start, Clock::time_point end, bool resend, Until until) {
  std::vector<pollfd> pfds;
  for (auto& c : t.conns) pfds.push_back({c.fd, POLLIN, 0});
  while (!until()) {
    if (poll(pfds.data(), pfds.size(), 10) < 0 && errno != EINTR) return;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < t.conns.size(); ++i) {
      Conn& c = t.conns[i];
      if (pfds[i].fd < 0 || pfds[i].revents == 0) continue;
      const auto replies = ReadReplies(c);
      if (!replies) {
        pfds[i].fd = -1;
        c.in_flight = false;
        ++t.lost;
        continue;
      }
      if (replies->empty()) continue;
      c.in_flight = false;
      c.answered = true;
      for (const Reply r : *replies) {
        t.errs += r == Reply::kOk ? 0 : 1;
        ++t.all;
        if (now >= start && now < end) ++c.replies;
      }
      // Waits count from the window's start: setting up many connections comes before it.
      if (now >= start && now < end) {
        c.longest_wait_s = std::max(c.longest_wait_s, Seconds(now - std::max(c.sent_at, start)));
      }
      if (resend) c.in_flight = SendCheck(c);
    }
  }
}

// One slice of a target's window: every connection with one command in flight; the window
// starts once each has been answered (or a connection the server neglects has waited long
// enough), and afterwards nothing is left in flight, so the next target's slice meets a server
// with nothing queued.
void RunSlice(Target& t, double seconds, int server_pid) {
  for (auto& c : t.conns) {
    c.answered = false;
    c.in_flight = SendCheck(c);
  }
  const auto first_sent = Clock::now();
  const double longest_warmup_s = t.warm ? 0.1 : 1.0;
  t.warm = true;
  auto all_answered = [&t] {
    return std::all_of(t.conns.begin(), t.conns.end(), [](const Conn& c) { return c.answered; });
  };
  const auto never = Clock::time_point::max();
  Drive(t, never, never, true, [&] {
    return all_answered() || Clock::now() - first_sent >= FromSeconds(longest_warmup_s);
  });
  const std::uint64_t cpu0 = CpuNs(t.pid) + CpuNs(server_pid);
  const auto start = Clock::now();
  const auto end = start + FromSeconds(seconds);
  Drive(t, start, end, true, [&] { return Clock::now() >= end; });
  t.cpu_ns += CpuNs(t.pid) + CpuNs(server_pid) - cpu0;
  t.window_s += seconds;
  for (auto& c : t.conns) {
    // A command still unanswered at the end has waited at least since it was sent.
    if (c.in_flight) {
      c.longest_wait_s = std::max(c.longest_wait_s, Seconds(end - std::max(c.sent_at, start)));
    }
  }
  const auto drained = Clock::now() + std::chrono::seconds(5);
  Drive(t, never, never, false, [&] {
    return Clock::now() >= drained ||
           std::none_of(t.conns.begin(), t.conns.end(), [](const Conn& c) { return c.in_flight; });
  });
}

int RunThroughput(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  std::vector<Target> targets(o.ports.size());
  for (std::size_t j = 0; j < targets.size(); ++j) {
    Target& t = targets[j];
    t.port = o.ports[j];
    t.pid = j < o.pids.size() ? o.pids[j] : 0;
    t.conns.resize(static_cast<std::size_t>(o.conns));
    for (auto& c : t.conns) {
      c.fd = StartConnect(t.port);
      if (c.fd < 0 || !AwaitConnect(c.fd, deadline)) {
        std::printf("error=connect_%d\n", t.port);
        return 1;
      }
    }
  }
  // The targets take turns slice by slice, who goes first rotating, so that load from elsewhere
  // on the machine falls on all alike.
  for (int slice = 0; slice < o.slices; ++slice) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      RunSlice(targets[(static_cast<std::size_t>(slice) + k) % targets.size()],
               o.seconds / o.slices, o.server_pid);
    }
  }
  bool complete = true;
  for (Target& t : targets) {
    long fewest = -1, most = 0;
    for (auto& c : t.conns) {
      t.longest_wait_s = std::max(t.longest_wait_s, c.longest_wait_s);
      close(c.fd);
      t.replies += c.replies;
      fewest = fewest < 0 ? c.replies : std::min(fewest, c.replies);
      most = std::max(most, c.replies);
    }
    const int p = t.port;
    std::printf("replies_%d=%ld\nnot_ok_%d=%ld\nlost_conns_%d=%ld\nwindow_s_%d=%.3f\n", p,
                t.replies, p, t.errs, p, t.lost, p, t.window_s);
    std::printf("throughput_%d=%.1f\nfewest_per_conn_%d=%ld\nmost_per_conn_%d=%ld\n", p,
                t.lost == 0 ? static_cast<double>(t.replies) / t.window_s : 0.0, p, fewest, p,
                most);
    std::printf("longest_wait_ms_%d=%.1f\n", p, t.longest_wait_s * 1e3);
    if (t.pid > 0) {
      std::printf("cpu_us_%d=%.1f\n", p,
                  t.replies > 0
                      ? static_cast<double>(t.cpu_ns) / 1e3 / static_cast<double>(t.replies)
                      : 0.0);
    }
    complete = complete && t.lost == 0 && t.errs == 0;
  }
  return complete ? 0 : 1;
}

struct ChurnConn {
  int fd = -1;
  bool connected = false;
  Clock::time_point started;
};

int RunChurn(const Options& o) {
  std::vector<ChurnConn> slots(static_cast<std::size_t>(o.parallel));
  long started = 0, completed = 0, refused = 0, timed_out = 0;
  const auto start = Clock::now();
  const auto deadline = start + FromSeconds(o.timeout_s);
  enum class End { kDone, kRefused, kTimedOut };
  auto finish = [&](ChurnConn& c, End end) {
    close(c.fd);
    c.fd = -1;
    c.connected = false;
    (end == End::kDone ? completed : end == End::kRefused ? refused : timed_out)++;
  };
  std::vector<pollfd> pfds;
  std::vector<ChurnConn*> owners;
  while (Clock::now() < deadline) {
    for (auto& c : slots) {
      if (c.fd >= 0 || started >= o.count) continue;
      c.fd = StartConnect(o.ports[0]);
      c.started = Clock::now();
      ++started;
      if (c.fd < 0) ++refused;
    }
    pfds.clear();
    owners.clear();
    for (auto& c : slots) {
      if (c.fd < 0) continue;
      pfds.push_back({c.fd, static_cast<short>(c.connected ? POLLIN : POLLOUT), 0});
      owners.push_back(&c);
    }
    if (pfds.empty()) break;
    if (poll(pfds.data(), pfds.size(), 100) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < pfds.size(); ++i) {
      ChurnConn& c = *owners[i];
      if (pfds[i].revents == 0) {
        if (Clock::now() - c.started > std::chrono::seconds(10)) finish(c, End::kTimedOut);
        continue;
      }
      if (!c.connected) {
        if (!ConnectDone(c.fd)) {
          finish(c, End::kRefused);
          continue;
        }
        // Close our sending side at once and wait until the server has ended its side too,
        // so the count below is of connections the server really saw open and close.
        c.connected = true;
        shutdown(c.fd, SHUT_WR);
        continue;
      }
      char buf[64];
      const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
      if (n > 0 || (n < 0 && errno == EAGAIN)) continue;
      finish(c, End::kDone);  // end of stream or reset: either way the server let go of it
    }
  }
  for (auto& c : slots)
    if (c.fd >= 0) finish(c, End::kTimedOut);
  const double elapsed = Seconds(Clock::now() - start);
  std::printf("requested=%d\ncompleted=%ld\nrefused=%ld\ntimed_out=%ld\nseconds=%.3f\nrate=%.1f\n",
              o.count, completed, refused, timed_out, elapsed,
              elapsed > 0 ? static_cast<double>(completed) / elapsed : 0.0);
  return completed == o.count ? 0 : 1;
}

// Whether the bytes received are a whole status line: "OK up=N 1=S 2=S 3=S 4=S", each S a slot
// state. A line cut short is not whole yet; anything else never will be.
enum class Status { kWhole, kPartial, kWrong };
Status ReadStatusLine(std::string_view got) {
  static constexpr std::string_view kStates[] = {"none",    "wait",   "run",   "ended",
                                                 "restart", "failed", "opened"};
  constexpr std::string_view kHead = "OK up=";
  if (got.size() < kHead.size()) return kHead.starts_with(got) ? Status::kPartial : Status::kWrong;
  if (!got.starts_with(kHead)) return Status::kWrong;
  std::size_t at = kHead.size();
  const std::size_t digits = got.find_first_not_of("0123456789", at);
  if (digits == at) return Status::kWrong;
  if (digits == std::string_view::npos) return Status::kPartial;
  at = digits;
  for (char slot = '1'; slot <= '4'; ++slot) {
    const std::string field = std::string(" ") + slot + "=";
    const std::string_view rest = got.substr(at);
    if (rest.size() < field.size())
      return std::string_view(field).starts_with(rest) ? Status::kPartial : Status::kWrong;
    if (!rest.starts_with(field)) return Status::kWrong;
    at += field.size();
    const std::size_t end = std::min(got.find(' ', at), got.size());
    const std::string_view state = got.substr(at, end - at);
    const bool known =
        std::find(std::begin(kStates), std::end(kStates), state) != std::end(kStates);
    const bool prefix = std::any_of(std::begin(kStates), std::end(kStates),
                                    [state](std::string_view s) { return s.starts_with(state); });
    if (end == got.size())
      return slot == '4' && known ? Status::kWhole : prefix ? Status::kPartial : Status::kWrong;
    if (!known) return Status::kWrong;
    at = end;
  }
  return Status::kWrong;  // more than four slots
}

struct SoakPeer {
  int tcp = -1;
  int udp = -1;
  std::string got;
  bool waiting = false;
  bool status = false;  // the command in flight asks for the status line
  Clock::time_point sent_at;
};

int ConnectUdp(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int RunSoak(const Options& o) {
  const auto begin = Clock::now();
  const auto deadline = begin + FromSeconds(o.timeout_s);
  const long steps = o.commands / 2;
  long started = 0, tcp_sent = 0, tcp_ok = 0, statuses_ok = 0, wrong = 0, missing = 0;
  long udp_sent = 0, udp_answered = 0, udp_errors = 0, lost_peers = 0;
  std::vector<SoakPeer> peers(static_cast<std::size_t>(o.peers));
  for (auto& p : peers) {
    p.tcp = StartConnect(o.ports[0]);
    p.udp = ConnectUdp(o.ports[0]);
    if (p.tcp < 0 || p.udp < 0 || !AwaitConnect(p.tcp, deadline)) {
      std::printf("error=connect\n");
      return 1;
    }
  }
  auto lose = [&](SoakPeer& p) {
    close(p.tcp);
    p.tcp = -1;
    p.waiting = false;
    ++lost_peers;
  };
  auto step = [&](SoakPeer& p) {
    if (started >= steps) return;
    ++started;
    if (send(p.udp, kCheck.data(), kCheck.size(), 0) == static_cast<ssize_t>(kCheck.size())) {
      ++udp_sent;
    } else {
      ++udp_errors;
    }
    p.status = tcp_sent % 100 == 99;
    const std::string_view command = p.status ? kStatus : kCheck;
    p.got.clear();
    p.sent_at = Clock::now();
    ++tcp_sent;
    if (send(p.tcp, command.data(), command.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(command.size())) {
      ++missing;
      lose(p);
      return;
    }
    p.waiting = true;
  };
  // A reply is judged when it is whole or can no longer become right.
  auto judge = [&](SoakPeer& p) {
    const Status status = p.status                                    ? ReadStatusLine(p.got)
                          : p.got == "OK"                             ? Status::kWhole
                          : std::string_view("OK").starts_with(p.got) ? Status::kPartial
                                                                      : Status::kWrong;
    if (status == Status::kPartial) return;
    p.waiting = false;
    if (status == Status::kWrong) {
      ++wrong;
      lose(p);  // what follows on it can no longer be told apart
      return;
    }
    ++tcp_ok;
    statuses_ok += p.status ? 1 : 0;
    step(p);
  };
  for (auto& p : peers) step(p);
  std::vector<pollfd> pfds;
  while (Clock::now() < deadline) {
    pfds.clear();
    for (const auto& p : peers) {
      pfds.push_back({p.tcp, POLLIN, 0});
      pfds.push_back({p.udp, POLLIN, 0});
    }
    const bool busy =
        std::any_of(peers.begin(), peers.end(), [](const SoakPeer& p) { return p.waiting; });
    if (!busy) break;
    if (poll(pfds.data(), pfds.size(), 100) < 0 && errno != EINTR) break;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < peers.size(); ++i) {
      SoakPeer& p = peers[i];
      if (pfds[2 * i + 1].revents != 0) {
        char buf[256];
        const ssize_t n = recv(p.udp, buf, sizeof buf, 0);
        (n >= 0 ? udp_answered : udp_errors) += 1;
      }
      if (p.tcp < 0 || !p.waiting) continue;
      if (pfds[2 * i].revents != 0) {
        char buf[256];
        const ssize_t n = recv(p.tcp, buf, sizeof buf, 0);
        if (n > 0) {
          p.got.append(buf, static_cast<std::size_t>(n));
          judge(p);
          continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          ++missing;
          lose(p);
          continue;
        }
      }
      if (now - p.sent_at > std::chrono::seconds(10)) {
        ++missing;
        lose(p);
      }
    }
  }
  for (auto& p : peers) {
    if (p.waiting) ++missing;  // the deadline passed
    if (p.tcp >= 0) close(p.tcp);
    close(p.udp);
  }
  const double elapsed = Seconds(Clock::now() - begin);
  std::printf("peers=%d\ntcp_sent=%ld\ntcp_ok=%ld\nstatus_ok=%ld\nwrong=%ld\nmissing=%ld\n",
              o.peers, tcp_sent, tcp_ok, statuses_ok, wrong, missing);
  std::printf("udp_sent=%ld\nudp_answered=%ld\nudp_errors=%ld\nlost_peers=%ld\nseconds=%.3f\n",
              udp_sent, udp_answered, udp_errors, lost_peers, elapsed);
  std::printf("rate=%.1f\n",
              elapsed > 0 ? static_cast<double>(tcp_sent + udp_sent) / elapsed : 0.0);
  return tcp_ok == steps && udp_sent == steps && udp_answered == 0 && udp_errors == 0 ? 0 : 1;
}

int RunNewcomer(const Options& o) {
  constexpr std::uint32_t kFirstChattyAddress = 0x7F000002;  // 127.0.0.2
  constexpr int kPeersAnAddress = 50;
  constexpr auto kGiveUp = std::chrono::seconds(3);
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  std::vector<Conn> chat(static_cast<std::size_t>(o.peers));
  for (std::size_t i = 0; i < chat.size(); ++i) {
    const auto source = kFirstChattyAddress + static_cast<std::uint32_t>(i / kPeersAnAddress);
    chat[i].fd = StartConnect(o.ports[0], source);
    if (chat[i].fd < 0 || !AwaitConnect(chat[i].fd, deadline)) {
      std::printf("error=connect\n");
      return 1;
    }
  }
  for (auto& c : chat) c.in_flight = SendCheck(c);
  std::vector<pollfd> pfds;
  long chat_lost = 0, chat_errs = 0;
  // Serves the chat (and the newcomer's socket, last in the list) for up to 10 ms.
  auto serve = [&](int newcomer) {
    pfds.clear();
    for (const auto& c : chat) pfds.push_back({c.fd, POLLIN, 0});
    pfds.push_back({newcomer, POLLIN, 0});
    if (poll(pfds.data(), pfds.size(), 10) < 0 && errno != EINTR) return false;
    for (std::size_t i = 0; i < chat.size(); ++i) {
      Conn& c = chat[i];
      if (c.fd < 0 || pfds[i].revents == 0) continue;
      const auto replies = ReadReplies(c);
      if (!replies) {
        close(c.fd);
        c.fd = -1;
        ++chat_lost;
        continue;
      }
      for (const Reply r : *replies) chat_errs += r == Reply::kOk ? 0 : 1;
      if (replies->empty()) continue;
      ++c.replies;
      c.in_flight = SendCheck(c);
    }
    return pfds.back().revents != 0;
  };
  auto least_served = [&] {
    long least = -1;
    for (const auto& c : chat) least = least < 0 ? c.replies : std::min(least, c.replies);
    return least;
  };
  std::vector<double> waits_ms;
  long unanswered = 0, not_ok = 0;
  for (int k = 0; k < o.count && Clock::now() < deadline; ++k) {
    Conn fresh;
    fresh.fd = StartConnect(o.ports[0]);
    if (fresh.fd < 0 || !AwaitConnect(fresh.fd, deadline) || !SendCheck(fresh)) {
      ++unanswered;
      if (fresh.fd >= 0) close(fresh.fd);
      continue;
    }
    std::optional<Reply> got;
    while (!got && Clock::now() - fresh.sent_at < kGiveUp) {
      if (!serve(fresh.fd)) continue;
      const auto replies = ReadReplies(fresh);
      if (!replies) break;
      if (!replies->empty()) got = replies->front();
    }
    if (got) {
      waits_ms.push_back(Seconds(Clock::now() - fresh.sent_at) * 1e3);
      not_ok += *got == Reply::kOk ? 0 : 1;
    } else {
      ++unanswered;
    }
    close(fresh.fd);
    // A pause of chat alone between two new peers, so each meets the chat, not the one before.
    const auto pause_end = Clock::now() + std::chrono::milliseconds(100);
    while (Clock::now() < pause_end) serve(-1);
  }
  for (auto& c : chat) {
    if (c.fd >= 0) close(c.fd);
  }
  const long within =
      std::count_if(waits_ms.begin(), waits_ms.end(), [](double ms) { return ms <= 250; });
  std::printf("peers=%d\nnewcomers=%d\nanswered=%zu\nwithin_250ms=%ld\nunanswered=%ld\n", o.peers,
              o.count, waits_ms.size(), within, unanswered);
  std::printf("not_ok=%ld\nchat_lost=%ld\nchat_not_ok=%ld\n", not_ok, chat_lost, chat_errs);
  const long never_served =
      std::count_if(chat.begin(), chat.end(), [](const Conn& c) { return c.replies == 0; });
  std::printf("p50_ms=%.1f\nmax_ms=%.1f\nchat_least_served=%ld\nchat_never_served=%ld\n",
              Percentile(waits_ms, 0.5), Percentile(waits_ms, 1.0), least_served(), never_served);
  return unanswered == 0 && not_ok == 0 && chat_lost == 0 && chat_errs == 0 && never_served == 0
             ? 0
             : 1;
}

int RunWait(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  while (Clock::now() < deadline) {
    const int fd = StartConnect(o.ports[0]);
    if (fd >= 0) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 200) == 1 && ConnectDone(fd)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("ready_at=%.3f\n", std::chrono::duration<double>(now).count());
        close(fd);
        return 0;
      }
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("ready_at=none\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  if (o.mode == "latency") return RunLatency(o);
  if (o.mode == "throughput") return RunThroughput(o);
  if (o.mode == "churn") return RunChurn(o);
  if (o.mode == "soak") return RunSoak(o);
  if (o.mode == "newcomer") return RunNewcomer(o);
  if (o.mode == "wait") return RunWait(o);
  if (o.mode == "signed") return RunSigned(o);
  Usage();
}
