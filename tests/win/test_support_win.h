#pragma once
// Helpers for the tests that run under Wine: scratch folders, files, pumping messages.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

namespace qyr::test {

// Folder of the running test executable (the build tree), with a trailing backslash.
std::string BuildDir();

// A new empty folder under the system temp folder whose name holds `tag`; removed with it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }  // with trailing backslash
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The events of a command log, each line checked for its "YYYY-MM-DD hh:mm:ss.mmm " stamp and
// CR LF; a malformed line ends the list with a note of what it was.
std::vector<std::string> LogEvents(const std::string& log);
bool CopyFileTo(const std::string& from, const std::string& to);

// Dispatches this thread's messages for the given time.
void PumpMessages(std::chrono::milliseconds duration);

// Pumps messages until `done` is true or the time is up; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Pumps messages until the window's timer `id` has fired `count` times; false if the time ran
// out first.
bool PumpTimerTicks(HWND window, UINT_PTR id, int count, std::chrono::milliseconds limit);

// Starts a program (no window of the caller needed); returns the process handle or null.
HANDLE StartProcess(const std::string& exe, const std::string& args = "");

// Watches, from a thread of its own, for the next message box of the given process; once it
// appears, runs `while_open` (on the watcher's thread), records its caption and text and
// presses OK. Stop() waits for the watcher.
class BoxCatcher {
 public:
  explicit BoxCatcher(DWORD process_id = GetCurrentProcessId(),
                      std::function<void()> while_open = nullptr);
  ~BoxCatcher();
  BoxCatcher(const BoxCatcher&) = delete;
  BoxCatcher& operator=(const BoxCatcher&) = delete;
  void Stop();
  bool seen() const { return seen_; }
  const std::string& caption() const { return caption_; }
  const std::string& text() const { return text_; }
  bool has_stop_icon() const { return stop_icon_; }
  // Where the box stood: its owner (an owned window always stays above it), whether it was
  // topmost, and its place on the screen.
  HWND owner() const { return owner_; }
  bool topmost() const { return topmost_; }
  RECT rect() const { return rect_; }

 private:
  void Run();
  DWORD process_id_;
  std::function<void()> while_open_;
  HANDLE thread_ = nullptr;
  volatile LONG stop_ = 0;
  bool seen_ = false;
  bool stop_icon_ = false;
  HWND owner_ = nullptr;
  bool topmost_ = false;
  RECT rect_ = {};
  std::string caption_;
  std::string text_;
};

}  // namespace qyr::test
