#include "remote/connection_limits.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

constexpr Ipv4 kA = 0x0A000001, kB = 0x0A000002, kC = 0x0A000003, kD = 0x0A000004;

TEST(ConnectionLimits, ANewConnectionTakesTheRoomOfTheRightIdleOne) {
  struct Held {
    Ipv4 source;
    std::uint64_t idle_ms;
    bool in_use = false;
  };
  struct Case {
    const char* what;
    ConnectionLimits limits;
    std::vector<Held> held;  // in accept order
    Ipv4 newcomer;
    AdmissionChoice choice;
  } cases[] = {
      {"room for it", {2, 4}, {{kA, 10}, {kB, 5}, {kC, 1}}, kA, {Admission::kAdmit}},
      {"its source is full: its own idlest goes, not another's",
       {2, 4},
       {{kA, 10}, {kA, 30}, {kB, 50}},
       kA,
       {Admission::kEvict, 1}},
      {"its own idlest is in use", {2, 4}, {{kA, 30, true}, {kA, 10}}, kA, {Admission::kEvict, 1}},
      {"its own are all in use: refused, though another source has idle ones",
       {2, 4},
       {{kA, 30, true}, {kA, 10, true}, {kB, 50}},
       kA,
       {Admission::kRefuse}},
      {"idle as long: the older goes", {2, 4}, {{kA, 7}, {kA, 7}}, kA, {Admission::kEvict, 0}},
      {"at the ceiling: the idlest of the source holding the most",
       {64, 4},
       {{kA, 5}, {kB, 50}, {kA, 1}, {kC, 9}},
       kD,
       {Admission::kEvict, 0}},
      {"at the ceiling, the biggest source all in use: the next, the idler of a tie",
       {64, 4},
       {{kA, 90, true}, {kA, 80, true}, {kB, 3}, {kC, 7}},
       kD,
       {Admission::kEvict, 3}},
      {"at the ceiling, nothing idle",
       {64, 3},
       {{kA, 9, true}, {kB, 9, true}, {kC, 9, true}},
       kD,
       {Admission::kRefuse}},
      {"at the ceiling, its own source holds the most",
       {64, 3},
       {{kA, 5}, {kB, 50}, {kA, 6}},
       kA,
       {Admission::kEvict, 2}},
      {"both limits reached: its own source gives the room",
       {2, 3},
       {{kB, 1}, {kB, 2}, {kA, 1}, {kA, 3}},
       kA,
       {Admission::kEvict, 3}},
      {"nothing held", {64, 5000}, {}, kA, {Admission::kAdmit}},
  };
  for (const Case& c : cases) {
    std::vector<HeldConnection> held;
    for (const Held& h : c.held) {
      held.push_back({h.source, held.size() + 1, h.idle_ms, h.in_use});
    }
    EXPECT_EQ(ChooseAdmission(held, c.newcomer, c.limits), c.choice) << c.what;
  }
}

}  // namespace
}  // namespace qyr
