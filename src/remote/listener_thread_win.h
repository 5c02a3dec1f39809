#pragma once
// The thread the remote control's listeners live on. The window's thread owns real windows, and
// under Wine every wait of such a thread also looks at the X display: a command served there cost
// a fifth more than the least a program can do, alone, and half again under load. This thread
// owns message-only windows only: its sockets' notifications, its timer and the calls it is
// given reach it, nothing else.
//
// Calls between the two threads wait for each other and cannot deadlock. A call to this thread
// is posted, so it runs once what the thread does now is done, and the caller serves the calls
// sent to it meanwhile; a call to the owner is sent, and the owner serves it whenever it waits
// for messages or for a call of its own.
#include <functional>
#include <memory>

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

class ListenerThread {
 public:
  // Starts the thread. The timers of its window go to `on_timer`, on the thread. Raises AppError
  // when the thread or a window cannot be made.
  explicit ListenerThread(std::function<void(UINT_PTR timer)> on_timer = {});
  // Ends the thread once what it does now is done, and waits for it.
  ~ListenerThread();
  ListenerThread(const ListenerThread&) = delete;
  ListenerThread& operator=(const ListenerThread&) = delete;

  // Runs `work` on the thread, after what it is doing now, and waits for it; what it raises is
  // raised here. On the thread itself it runs at once.
  void Call(const std::function<void()>& work) const;
  // On the thread: runs `work` on the owner's thread and waits for it; what it raises is told
  // there, as a window's error is, and the call returns. Anywhere else it runs at once.
  void CallOwner(const std::function<void()>& work) const;
  bool OnThread() const { return GetCurrentThreadId() == thread_id_; }
  // The thread's window, for its timers (set and killed on the thread).
  HWND Window() const { return window_; }

 private:
  class CallWindow;
  static DWORD WINAPI Run(LPVOID self);
  // Until `object` is signalled, serving the calls sent to this thread.
  static void WaitServingCalls(HANDLE object);

  std::function<void(UINT_PTR)> on_timer_;
  std::unique_ptr<CallWindow> owner_end_;  // the owner's window, for CallOwner
  HWND window_ = nullptr;                  // the thread's
  DWORD thread_id_ = 0;
  KernelHandle ready_;
  KernelHandle thread_;
  bool failed_ = false;  // the thread could not make its window
};

}  // namespace qyr
