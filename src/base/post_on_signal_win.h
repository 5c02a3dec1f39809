#pragma once
// A message posted to a window once a kernel object is signalled (a process has ended). The
// system's wait thread does the waiting, so the window learns of it as an event and nothing
// polls or blocks the one thread.
#include <memory>
#include <utility>

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

class PostOnSignal {
 public:
  PostOnSignal() = default;
  // Posts `message` with `wp` and `lp` to `window` once `object` is signalled. Not ok() when no
  // wait could be registered.
  PostOnSignal(HANDLE object, HWND window, UINT message, WPARAM wp, LPARAM lp);
  PostOnSignal(PostOnSignal&&) noexcept = default;
  PostOnSignal& operator=(PostOnSignal&& other) noexcept {
    reset();  // the old wait goes before the target it posts for
    target_ = std::move(other.target_);
    wait_ = std::move(other.wait_);
    return *this;
  }
  ~PostOnSignal() { reset(); }
  bool ok() const { return static_cast<bool>(wait_); }
  // No message is posted from now on.
  void reset() {
    wait_.reset();
    target_.reset();
  }

 private:
  struct Target {
    HWND window;
    UINT message;
    WPARAM wp;
    LPARAM lp;
  };
  static VOID CALLBACK Post(PVOID target, BOOLEAN timed_out);

  std::unique_ptr<Target> target_;
  // Declared after the target: unregistered (waiting for a callback under way) before it goes.
  UniqueWait wait_;
};

}  // namespace qyr
