#pragma once
// Undo steps that must run however a scope ends, also when an error leaves it.
#include <utility>

namespace qyr {

// Runs `f` when the scope ends. `f` must not throw.
template <typename F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

// Switches a component (anything with SetEnabled, a timer) off for the scope and on again
// after it, so an error in between cannot leave it stopped for good.
template <typename T>
class [[nodiscard]] ScopedPause {
 public:
  explicit ScopedPause(T& component) : component_(component) { component_.SetEnabled(false); }
  ~ScopedPause() { component_.SetEnabled(true); }
  ScopedPause(const ScopedPause&) = delete;
  ScopedPause& operator=(const ScopedPause&) = delete;

 private:
  T& component_;
};

}  // namespace qyr
