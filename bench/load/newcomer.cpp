// qyr_load newcomer --port P [--peers N] [--count K] [--timeout S]
//       N peers connect and each sends a check again as soon as it is answered; right behind
//       them, K new peers one after another connect and send one check each, the first meeting
//       the chat's connections still arriving, the later ones the chat in full swing. Prints how
//       long the new peers waited for their answers (p50, max), how many got none within 3 s,
//       and the replies of the least served chatty peer.
//       The chatty peers come from 127.0.0.2 and up, 50 an address, so that none of them holds
//       as many connections as the program allows one address; the new peers from 127.0.0.1.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "load.h"

#include <poll.h>
#include <unistd.h>

namespace qyr::load {

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

}  // namespace qyr::load
