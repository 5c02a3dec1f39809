#include "remote/listener_thread_win.h"

#include <exception>
#include <string>
#include <utility>

#include "base/errors.h"
#include "base/ids_win.h"
#include "base/window_base_win.h"

namespace qyr {

namespace {

// A call and what became of it. It is handed over by address, in a posted or a sent message:
// its caller waits until it has run, so it outlives the message.
struct Job {
  const std::function<void()>* work = nullptr;
  std::exception_ptr error;
  HANDLE done = nullptr;  // set once it has run, for a posted call
};

}  // namespace

// One end: runs the calls that reach it and hands its other messages on.
class ListenerThread::CallWindow : public BaseWindow<CallWindow> {
 public:
  CallWindow(const wchar_t* class_name, const std::function<void(UINT_PTR)>* on_timer)
      : on_timer_(on_timer) {
    made_ = CreateHiddenWindow(class_name, HWND_MESSAGE);
  }
  bool made() const { return made_; }

 private:
  friend class BaseWindow<CallWindow>;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kWmRunCall) {
      auto* job = reinterpret_cast<Job*>(lp);
      const bool posted = job->done != nullptr;
      try {
        (*job->work)();
      } catch (const std::exception& e) {
        if (!posted) {
          // A hook of the window's failed: the listener thread goes on serving (its call, on its
          // stack, is over), and the error is told here, where its box belongs.
          ReplyMessage(0);
          ReportWindowError(hwnd_, e.what());
          return 0;
        }
        job->error = std::current_exception();
      } catch (...) {
        if (!posted) throw;
        job->error = std::current_exception();
      }
      if (posted) SetEvent(job->done);
      return 0;
    }
    if (msg == WM_TIMER && on_timer_ != nullptr && *on_timer_) {
      (*on_timer_)(wp);
      return 0;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
  }

  const std::function<void(UINT_PTR)>* on_timer_;
  bool made_ = false;
};

ListenerThread::ListenerThread(std::function<void(UINT_PTR timer)> on_timer)
    : on_timer_(std::move(on_timer)),
      owner_end_(std::make_unique<CallWindow>(L"QyrOwnerCalls", nullptr)),
      ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!owner_end_->made() || !ready_) throw AppError("cannot make the listener thread's window");
  thread_.reset(CreateThread(nullptr, 0, &ListenerThread::Run, this, 0, &thread_id_));
  if (!thread_) throw AppError("cannot start the listener thread");
  WaitForSingleObject(ready_.get(), INFINITE);
  if (failed_) {
    WaitForSingleObject(thread_.get(), INFINITE);
    throw AppError("cannot make the listener thread's window");
  }
}

ListenerThread::~ListenerThread() {
  // The loop ends with the quit message, once nothing else waits for it; a handler on the way
  // may still call the owner, so the wait serves calls.
  Call([] { PostQuitMessage(0); });
  WaitServingCalls(thread_.get());
}

DWORD WINAPI ListenerThread::Run(LPVOID arg) {
  auto* self = static_cast<ListenerThread*>(arg);
  CallWindow end(L"QyrListenerThread", &self->on_timer_);
  self->failed_ = !end.made();
  self->window_ = end.hwnd();
  SetEvent(self->ready_.get());
  if (self->failed_) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

void ListenerThread::WaitServingCalls(HANDLE object) {
  for (;;) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    const DWORD woke = MsgWaitForMultipleObjects(1, &object, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return;
    if (woke != WAIT_OBJECT_0 + 1) {
      WaitForSingleObject(object, INFINITE);
      return;
    }
  }
}

void ListenerThread::Call(const std::function<void()>& work) const {
  if (OnThread()) return work();
  const KernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Job job{.work = &work, .error = {}, .done = done.get()};
  if (!done || !PostMessageW(window_, kWmRunCall, 0, reinterpret_cast<LPARAM>(&job))) {
    throw AppError("cannot reach the listener thread");
  }
  WaitServingCalls(done.get());
  if (job.error) std::rethrow_exception(job.error);
}

void ListenerThread::CallOwner(const std::function<void()>& work) const {
  if (!OnThread()) return work();
  Job job{.work = &work, .error = {}, .done = nullptr};
  SendMessageW(owner_end_->hwnd(), kWmRunCall, 0, reinterpret_cast<LPARAM>(&job));
}

}  // namespace qyr
