#include "remote/command_log_win.h"

#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "remote/command_log.h"

namespace qyr {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A log grown far past its limit by someone else is not read into memory whole.
constexpr LONGLONG kLogReadLimitBytes = 16 * 1024 * 1024;

UniqueFile OpenLog(const std::string& path, DWORD access) {
  return UniqueFile(CreateFileW(Utf8ToWide(path).c_str(), access, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The whole log, or its newest kLogReadLimitBytes when someone else has grown it past that.
bool ReadAll(HANDLE file, std::string& content) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size)) return false;
  LARGE_INTEGER skip = {};
  skip.QuadPart = size.QuadPart > kLogReadLimitBytes ? size.QuadPart - kLogReadLimitBytes : 0;
  if (!SetFilePointerEx(file, skip, nullptr, FILE_BEGIN)) return false;
  content.resize(static_cast<std::size_t>(size.QuadPart - skip.QuadPart));
  DWORD got = 0;
  return content.empty() ||
         (ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr) &&
          got == content.size());
}

// Writes `content` from the start of the file and cuts the file after it.
bool Rewrite(HANDLE file, std::string_view content) {
  LARGE_INTEGER start = {};
  DWORD put = 0;
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
         (content.empty() ||
          (WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) &&
           put == content.size())) &&
         SetEndOfFile(file);
}

// Moves the full log into the old file and empties it. The log is read whole before the old
// file is touched, so a log that cannot be read costs the old file nothing. When the old file
// cannot be written, the log keeps its newest half instead and logging goes on. False only
// when the log itself cannot be read or changed; then it is left as it was.
bool RollOver(const CommandLogFile& log) {
  UniqueFile from = OpenLog(log.Path(), GENERIC_READ | GENERIC_WRITE);
  std::string content;
  if (!from || !ReadAll(from.get(), content)) return false;
  // Written over in place, not created anew: users may be allowed to change both files but
  // not to create or rename files in the program's folder.
  UniqueFile to = OpenLog(log.OldPath(), GENERIC_WRITE);
  if (to && Rewrite(to.get(), content)) return Rewrite(from.get(), {});
  return Rewrite(from.get(), std::string_view(content).substr(NewestHalfStart(content)));
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

void CommandLog::Attach(HWND window) {
  window_ = window;
  window_thread_ = GetCurrentThreadId();
  flush_timer_.Attach(window);
}

void CommandLog::Open(std::string path) {
  const std::lock_guard lock(mutex_);
  file_ = CommandLogFile(std::move(path));
  on_ = file_.On();
}

void CommandLog::Log(std::string_view event) {
  bool kept = false;
  bool first = false;
  {
    const std::lock_guard lock(mutex_);
    const bool before = file_.HasKept();
    file_.Write(event);
    kept = file_.HasKept();
    first = kept && !before;
  }
  // Armed by the first kept line only: a busy peer costs no timer call per command, and the
  // window's thread is not woken for each.
  if (window_ == nullptr || GetCurrentThreadId() == window_thread_) {
    flush_timer_.SetEnabled(kept);
  } else if (first) {
    PostMessageW(window_, kWmLogKept, 0, 0);
  }
}

void CommandLog::Flush() {
  {
    const std::lock_guard lock(mutex_);
    file_.Flush();
  }
  flush_timer_.SetEnabled(false);
}

bool CommandLog::OnMessage(UINT msg, WPARAM wp, LPARAM) {
  if (msg == kWmLogKept) {
    flush_timer_.SetEnabled(true);
    return true;
  }
  if (msg != WM_TIMER || wp != kTimerLog) return false;
  Flush();
  return true;
}

}  // namespace qyr
