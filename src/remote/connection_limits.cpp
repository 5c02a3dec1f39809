#include "remote/connection_limits.h"

#include <map>
#include <optional>

namespace qyr {

namespace {

// Whether `a` has been idle longer than `b` (ties: the older connection).
bool IdleLonger(const HeldConnection& a, const HeldConnection& b) {
  return a.idle_ms != b.idle_ms ? a.idle_ms > b.idle_ms : a.id < b.id;
}

struct SourceShare {
  std::size_t count = 0;
  std::optional<std::size_t> idlest;  // its longest-idle connection not in use
};

}  // namespace

AdmissionChoice ChooseAdmission(std::span<const HeldConnection> held, Ipv4 newcomer,
                                const ConnectionLimits& limits) {
  std::map<Ipv4, SourceShare> shares;
  for (std::size_t i = 0; i < held.size(); ++i) {
    SourceShare& share = shares[held[i].source];
    ++share.count;
    if (!held[i].in_use && (!share.idlest || IdleLonger(held[i], held[*share.idlest]))) {
      share.idlest = i;
    }
  }
  const SourceShare own = shares.contains(newcomer) ? shares[newcomer] : SourceShare{};
  const SourceShare* from = nullptr;
  if (own.count >= limits.per_source) {
    from = &own;
  } else if (held.size() >= limits.total) {
    for (const auto& [source, share] : shares) {
      if (!share.idlest) continue;
      const bool more =
          from == nullptr || share.count > from->count ||
          (share.count == from->count && IdleLonger(held[*share.idlest], held[*from->idlest]));
      if (more) from = &share;
    }
    if (from == nullptr) return {Admission::kRefuse};
  } else {
    return {Admission::kAdmit};
  }
  if (!from->idlest) return {Admission::kRefuse};
  return {Admission::kEvict, *from->idlest};
}

}  // namespace qyr
