#include "app/app_rules.h"

#include "base/text.h"

namespace qyr {

std::string AppTitle(std::string_view exe_path) {
  const std::size_t sep = exe_path.find_last_of("\\/:");
  std::string_view name = sep == std::string_view::npos ? exe_path : exe_path.substr(sep + 1);
  name = name.substr(0, name.find('.'));
  if (name.empty()) return {};
  return std::string(1, name.front()) + AsciiLower(name.substr(1));
}

bool PassesNameTest(std::string_view exe_path) { return Contains(AsciiLower(exe_path), "qyr"); }

bool OpensRemoteControl(std::string_view exe_path) {
  return Contains(AsciiLower(exe_path), "qyrnor");
}

}  // namespace qyr
