// The AllowFrom setting is typed by hand: any text must parse without a crash, and a list that
// parses must mean what it says: each range matches its own network and, written back out,
// reads as the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "remote/allow_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qyr::AllowList list = qyr::ParseAllowList(text);
  if (!list.ok()) {
    if (!list.ranges.empty() || qyr::Allows(list, 0)) std::abort();  // fails closed
    return 0;
  }
  std::string again;
  for (const qyr::Ipv4Range& range : list.ranges) {
    if (range.prefix < 0 || range.prefix > 32) std::abort();
    if (!qyr::Allows(list, range.network)) std::abort();
    again += (again.empty() ? "" : ",") + qyr::FormatIpv4(range.network) + "/" +
             std::to_string(range.prefix);
  }
  if (qyr::ParseAllowList(again).ranges != list.ranges) std::abort();
  return 0;
}
