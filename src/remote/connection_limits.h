#pragma once
// How many TCP connections the listener holds, and which one it lets go when a new one comes:
// silent connections from a few addresses must never lock the control system out.
#include <cstddef>
#include <cstdint>
#include <span>

#include "remote/allow_list.h"

namespace qyr {

struct ConnectionLimits {
  std::size_t per_source = 64;  // from one address
  // In all. A real hall needs a few dozen; the rest is room for the crowd of an attack to be
  // thinned out source by source before a quiet connection of anyone else is touched.
  std::size_t total = 5000;
};

// A connection as the choice sees it.
struct HeldConnection {
  Ipv4 source = 0;
  std::uint64_t id = 0;       // in accept order: of two idle as long, the older goes
  std::uint64_t idle_ms = 0;  // since it last read or sent
  bool in_use = false;        // bytes waiting or in line, its handler running, replies queued
};

enum class Admission { kAdmit, kEvict, kRefuse };

struct AdmissionChoice {
  Admission admission = Admission::kAdmit;
  std::size_t victim = 0;  // with kEvict: the index of the connection to close
  bool operator==(const AdmissionChoice&) const = default;
};

// What a new connection from `newcomer` takes. At the per-source limit it replaces its own
// source's longest-idle connection; at the ceiling, the longest-idle connection of the source
// that holds the most among those with one idle (ties: the one idle longest). A connection in
// use is never chosen: with none idle where the room must come from, the new one is refused.
AdmissionChoice ChooseAdmission(std::span<const HeldConnection> held, Ipv4 newcomer,
                                const ConnectionLimits& limits);

}  // namespace qyr
