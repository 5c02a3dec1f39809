// qyr_load soak  --port P [--peers N] [--commands C] [--timeout S]
//       N peers at once, each with a TCP connection and a UDP socket of its own. A peer's step is
//       one datagram, then one command over TCP whose reply it waits for; every 100th TCP command
//       is QyrNOR_PC_STATUS, the others and every datagram QyrNOR_PC_CHECK. C commands in all,
//       half over each protocol. Every TCP reply must be exactly "OK" (a whole status line
//       "OK up=... 1=... 4=..." for a status) within 10 s, and no datagram may be answered. The
//       program's handling of the datagrams is for the caller to count (its command log).
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "load.h"
#include "remote/status_reply.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qyr::load {

namespace {

struct SoakPeer {
  int tcp = -1;
  int udp = -1;
  std::string got;
  bool waiting = false;
  bool status = false;  // the command in flight asks for the status line
  Clock::time_point sent_at;
};

}  // namespace

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
    const StatusError status = p.status        ? ParseStatusReply(p.got).error
                               : p.got == "OK" ? StatusError::kNone
                               : std::string_view("OK").starts_with(p.got)
                                   ? StatusError::kCutShort
                                   : StatusError::kNotStatus;
    if (status == StatusError::kCutShort) return;
    p.waiting = false;
    if (status != StatusError::kNone) {
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

}  // namespace qyr::load
