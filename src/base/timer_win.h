#pragma once
// A window timer that behaves like a component: enabling an enabled timer or setting the
// period it already has changes nothing; any real change restarts the period.
#include <windows.h>

namespace qyr {

class WindowTimer {
 public:
  WindowTimer(UINT_PTR id, UINT interval_ms, bool enabled)
      : id_(id), interval_(interval_ms), enabled_(enabled) {}
  ~WindowTimer() { Stop(); }
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  // Binds the timer to its window; it starts now if enabled.
  void Attach(HWND owner) {
    owner_ = owner;
    Update();
  }
  void Detach() {
    Stop();
    owner_ = nullptr;
  }

  bool Enabled() const { return enabled_; }
  UINT Interval() const { return interval_; }
  UINT_PTR Id() const { return id_; }

  void SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
  }
  void SetInterval(UINT interval_ms) {
    if (interval_ms == interval_) return;
    interval_ = interval_ms;
    Update();
  }

 private:
  void Stop() {
    if (owner_ != nullptr) KillTimer(owner_, id_);
  }
  void Update() {
    Stop();
    if (owner_ != nullptr && enabled_ && interval_ != 0) SetTimer(owner_, id_, interval_, nullptr);
  }

  HWND owner_ = nullptr;
  UINT_PTR id_;
  UINT interval_;
  bool enabled_;
};

}  // namespace qyr
