// What was typed into the four rows travels to save mode on a command line: whatever the bytes,
// quoting and splitting must give back every argument whole, and a raw line must never crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/save_mode.h"
#include "base/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qyr::SplitCommandLine(text);

  // A command line holds no zero byte: it separates the arguments here.
  std::vector<std::string> args;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\0', start);
    args.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const std::string program = "C:\\Program Files\\QyrNOR\\QyrDelay.exe";
  std::vector<std::string> want = {program};
  want.insert(want.end(), args.begin(), args.end());
  if (qyr::SplitCommandLine(qyr::QuoteArgument(program) + " " + qyr::JoinArguments(args)) != want)
    __builtin_trap();

  if (args.size() < 2 * qyr::kSlotCount) return 0;
  qyr::SaveRequest request{{}, args.size() % 2 == 0};
  for (std::size_t i = 0; i < request.rows.size(); ++i) {
    request.rows[i] = {args[2 * i], args[2 * i + 1]};
  }
  const qyr::SaveArgs parsed = qyr::ParseSaveArguments(qyr::SplitCommandLine(
      qyr::QuoteArgument(program) + " " + qyr::JoinArguments(qyr::SaveModeArguments(request))));
  if (!parsed.ok() || parsed.request.autorun != request.autorun) __builtin_trap();
  for (std::size_t i = 0; i < request.rows.size(); ++i) {
    if (parsed.request.rows[i].file != request.rows[i].file ||
        parsed.request.rows[i].delay != request.rows[i].delay)
      __builtin_trap();
  }
  return 0;
}
