// The installer hands the checks a typed path, list and clock: any text must be judged without a
// crash, and the folders of a path must be its own prefixes, outermost first, ending at the path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "setup/check_mode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const qyr::CheckRequest request = qyr::ParseCheckRequest({text, text});
  if (request.mode != qyr::CheckMode::kNone && request.error == qyr::CheckArgsError::kNone) {
    std::abort();  // a second argument is never ignored
  }
  if (qyr::CheckAllowList(text).exit_code == 0 && !qyr::CheckAllowList(text).lines.empty()) {
    std::abort();
  }
  // A refused clock names its bad entry in one line; a passed one says nothing.
  const qyr::CheckOutcome clock = qyr::CheckPowerClock(text, text, text);
  if (clock.lines.size() != (clock.exit_code == 0 ? 0u : 1u)) std::abort();
  const std::vector<std::string> folders = qyr::FoldersBelowRoot(text);
  std::string_view whole = text;
  while (!whole.empty() && whole.back() == '\\') whole.remove_suffix(1);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::string& folder = folders[i];
    if (folder.empty() || folder.back() == '\\' || text.rfind(folder, 0) != 0) std::abort();
    if (i > 0 && folder.size() <= folders[i - 1].size()) std::abort();
  }
  if (!folders.empty() && folders.back() != whole) std::abort();
  return 0;
}
