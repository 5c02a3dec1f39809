#include "base/post_on_signal_win.h"

namespace qyr {

PostOnSignal::PostOnSignal(HANDLE object, HWND window, UINT message, WPARAM wp, LPARAM lp)
    : target_(std::make_unique<Target>(Target{window, message, wp, lp})) {
  HANDLE wait = nullptr;
  if (RegisterWaitForSingleObject(&wait, object, &Post, target_.get(), INFINITE,
                                  WT_EXECUTEONLYONCE)) {
    wait_.reset(wait);
  }
}

VOID CALLBACK PostOnSignal::Post(PVOID target, BOOLEAN /*timed_out*/) {
  const Target& t = *static_cast<const Target*>(target);
  PostMessageW(t.window, t.message, t.wp, t.lp);
}

}  // namespace qyr
