#include "remote/command_log_win.h"

#include <windows.h>

#include <exception>
#include <utility>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "remote/command_log.h"

namespace qyr {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

UniqueFile OpenLog(const std::string& path, DWORD access) {
  return UniqueFile(CreateFileW(Utf8ToWide(path).c_str(), access, kShareAll, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Copies the full log into the old file and empties it. False if either step failed; then the
// log is left as it was rather than lose its lines.
bool RollOver(const CommandLogFile& log) {
  UniqueFile from = OpenLog(log.Path(), GENERIC_READ | GENERIC_WRITE);
  UniqueFile to = OpenLog(log.OldPath(), GENERIC_WRITE);
  if (!from || !to || !SetEndOfFile(to.get())) return false;
  char buffer[64 * 1024];
  DWORD got = 0;
  while (ReadFile(from.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    DWORD put = 0;
    if (!WriteFile(to.get(), buffer, got, &put, nullptr) || put != got) return false;
  }
  LARGE_INTEGER start = {};
  return SetFilePointerEx(from.get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(from.get());
}

LocalTime Now() {
  SYSTEMTIME st = {};
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

}  // namespace

void CommandLogFile::Write(std::string_view event) noexcept {
  if (!On()) return;
  try {
    kept_ += LogLine(Now(), event);
  } catch (const std::exception&) {
    // Out of memory for one line: the command it records goes on all the same.
  }
  if (kept_.size() > kLogKeptBytes) Flush();
}

void CommandLogFile::Flush() noexcept {
  if (kept_.empty()) return;
  const std::string lines = std::exchange(kept_, {});
  try {
    // Append-only access: every write lands at the end, whoever else has the file open.
    UniqueFile file = OpenLog(path_, FILE_APPEND_DATA | SYNCHRONIZE);
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size)) return;
    if (NeedsRollover(static_cast<std::uint64_t>(size.QuadPart), lines.size())) {
      file.reset();
      if (!RollOver(*this)) return;
      file = OpenLog(path_, FILE_APPEND_DATA | SYNCHRONIZE);
      if (!file) return;
    }
    DWORD written = 0;
    // A short or failed write drops these lines only.
    WriteFile(file.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  } catch (const std::exception&) {
    // Out of memory for the file name: these lines are lost, the program goes on.
  }
}

}  // namespace qyr
