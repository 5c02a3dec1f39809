#pragma once
// The command log file. Lines are stamped when their event happens and kept in memory until the
// next Flush, which the owner asks for a quarter of a second after the first kept line, before
// the PC is powered off and at the end: a command waits for no file, and the file is open only
// for the moment of a flush, so that a technician may read, copy or delete it at any time. What
// cannot be written is dropped; the next flush tries again. Nothing here raises or waits.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>

#include "base/ids_win.h"
#include "base/log_sink.h"
#include "base/timer_win.h"

namespace qyr {

// How long a line may wait in memory, and how much may wait before a flush is made at once.
inline constexpr unsigned kLogFlushDelayMs = 250;
inline constexpr std::size_t kLogKeptBytes = 64 * 1024;

class CommandLogFile {
 public:
  CommandLogFile() = default;  // off: nothing is ever written
  explicit CommandLogFile(std::string path) : path_(std::move(path)) {}

  bool On() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // "<path>.1", the one old file kept.
  std::string OldPath() const { return path_ + ".1"; }

  // Stamps the event with the local time and keeps the line for the next flush; with more
  // than kLogKeptBytes kept, flushes at once.
  void Write(std::string_view event) noexcept;
  bool HasKept() const { return !kept_.empty(); }
  // Appends the kept lines; past the size limit the file is first copied to the old file and
  // emptied (copied, not renamed: users may be allowed to change both files but not to create
  // or rename files in the program's folder).
  void Flush() noexcept;

 private:
  std::string path_;
  std::string kept_;
};

// The command log on the main window: the file, off until Open, and the timer that flushes it a
// quarter of a second after the first kept line. The window hands it to every part that logs;
// the listener thread logs too, and a line it keeps first has the window arm the timer.
class CommandLog final : public LogSink {
 public:
  CommandLog() = default;
  ~CommandLog() { flush_timer_.Detach(); }
  CommandLog(const CommandLog&) = delete;
  CommandLog& operator=(const CommandLog&) = delete;

  // On the window's thread, which flushes.
  void Attach(HWND window);
  void Detach() { flush_timer_.Detach(); }
  // From now on lines go to `path`.
  void Open(std::string path);
  bool On() const { return on_; }

  // From either thread.
  void Log(std::string_view event) override;
  // Writes the kept lines now (before the PC goes down, at the end).
  void Flush();
  // The flush timer, and its arming from the other thread. True if the message was the log's.
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp);

 private:
  std::mutex mutex_;  // over the file: its kept lines and its flushes
  CommandLogFile file_;
  std::atomic<bool> on_ = false;
  HWND window_ = nullptr;
  DWORD window_thread_ = 0;
  WindowTimer flush_timer_{kTimerLog, kLogFlushDelayMs, false};
};

}  // namespace qyr
