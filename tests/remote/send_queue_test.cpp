#include "remote/send_queue.h"

#include <string>

#include <gtest/gtest.h>

namespace qyr {
namespace {

// Drains the queue as a peer taking at most `step` bytes per send would.
std::string Drain(SendQueue& q, std::size_t step) {
  std::string out;
  while (!q.Empty()) {
    const std::string_view front = q.Front();
    EXPECT_LE(front.size(), SendQueue::kBlockSize);
    const std::size_t n = std::min(step, front.size());
    out.append(front.substr(0, n));
    q.Consume(n);
  }
  return out;
}

TEST(SendQueue, KeepsOrderAcrossBlocksAndPartialSends) {
  std::string expected;
  for (int i = 0; i < 2000; ++i) expected += (i % 3 == 0) ? "ERR" : "OK";
  for (std::size_t step : {1u, 2u, 1000u, 1460u, 5000u}) {
    SendQueue q;
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(q.Append((i % 3 == 0) ? "ERR" : "OK"));
    // Appending while the front block is half sent must not disturb the order.
    std::string out(q.Front().substr(0, 1));
    q.Consume(1);
    ASSERT_TRUE(q.Append("tail"));
    out += Drain(q, step);
    EXPECT_EQ(out, expected + "tail") << step;
  }
}

TEST(SendQueue, RefusesToGrowPastItsLimit) {
  SendQueue q(4000);
  ASSERT_TRUE(q.Append(std::string(3998, 'x')));
  EXPECT_FALSE(q.Append("ERR"));
  EXPECT_EQ(q.Size(), 3998u);
  EXPECT_TRUE(q.Append("OK"));
  q.Consume(3000);
  EXPECT_TRUE(q.Append("ERR"));
  EXPECT_EQ(Drain(q, 700), std::string(998, 'x') + "OKERR");
  q.Clear();
  EXPECT_TRUE(q.Empty());
  EXPECT_EQ(q.Front(), "");
}

}  // namespace
}  // namespace qyr
