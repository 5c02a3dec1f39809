// qyr_load latency    --port P [--port P2 ...] [--msgs M] [--warmup W] [--block B] [--timeout S]
//       One connection per port, W unmeasured then M measured round trips of "QyrNOR_PC_CHECK",
//       each sent only after the previous reply: nothing queues, so each sample is the cost of
//       one message. With several ports the round trips take turns, B to each port in a row (1),
//       so a burst of load from elsewhere on the machine falls on every server alike, and each
//       server follows each other equally often (what one leaves behind its reply slows whoever
//       comes next); with B in a row a server in a Wine of its own is measured as it runs there
//       alone. With --pause, MS milliseconds pass before each block, so that what the server
//       before it still had to do (a queue of notifications it works through after its last
//       reply) is done before the next server is timed. Figures are printed per port
//       (p50_us_P=...); with blocks of 100 or more, also the median of the blocks' own p99
//       (p99_blocks_us_P): a burst from elsewhere that falls on one block moves that block's
//       tail, not the figure.
#include <algorithm>
#include <cstdio>

#include "load.h"

#include <unistd.h>

namespace qyr::load {

namespace {

// The smallest block whose own p99 means something: five samples above it.
constexpr int kTailBlock = 100;

}  // namespace

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
  std::vector<std::vector<double>> block_p99(n);
  for (std::size_t j = 0; j < n; ++j) {
    conns[j].fd = StartConnect(o.ports[j]);
    lost[j] = conns[j].fd < 0 || !AwaitConnect(conns[j].fd, deadline);
  }
  const int total = o.warmup + o.msgs;
  for (int first = 0; first < total; first += o.block) {
    const auto turn = static_cast<std::size_t>(first / o.block);
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t j = TurnOrder(turn, k, n);
      if (o.pause_ms > 0) usleep(static_cast<useconds_t>(o.pause_ms) * 1000);
      const std::size_t before = samples[j].size();
      for (int i = first; i < std::min(first + o.block, total) && !lost[j]; ++i) {
        const auto us = RoundTrip(conns[j], deadline, errs[j]);
        lost[j] = !us;
        if (us && i >= o.warmup) samples[j].push_back(*us);
      }
      std::vector<double> block(samples[j].begin() + static_cast<std::ptrdiff_t>(before),
                                samples[j].end());
      if (block.size() >= static_cast<std::size_t>(kTailBlock)) {
        block_p99[j].push_back(Percentile(block, 0.99));
      }
    }
  }
  bool complete = true;
  for (std::size_t j = 0; j < n; ++j) {
    if (conns[j].fd >= 0) close(conns[j].fd);
    complete = complete && samples[j].size() == static_cast<std::size_t>(o.msgs) && errs[j] == 0;
    PrintLatency(o.ports[j], samples[j], errs[j]);
    if (!block_p99[j].empty()) {
      std::printf("p99_blocks_us_%d=%.1f\n", o.ports[j], Percentile(block_p99[j], 0.50));
    }
  }
  return complete ? 0 : 1;
}

}  // namespace qyr::load
