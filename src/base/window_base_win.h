#pragma once
// One small class per window: the C++ object rides in GWLP_USERDATA from WM_NCCREATE on, and
// every message goes to its HandleMessage. An error that escapes a handler goes to the error
// sink, the one place that takes them, and the message loop goes on.
#include <exception>
#include <functional>
#include <string>

#include <windows.h>

namespace qyr {

// Where an error that escapes a window's handler ends: `window` is the window whose handler
// failed. The program points it at its error box once, at start.
using WindowErrorSink = std::function<void(HWND window, const std::string& message)>;
void SetWindowErrorSink(WindowErrorSink sink);
void ReportWindowError(HWND window, const std::string& message);

// The first top-level window of the process for which `wanted` holds; null when there is none.
HWND FindProcessWindow(DWORD process_id, const std::function<bool(HWND)>& wanted);
// Whether the window is of the given window class.
bool HasWindowClass(HWND hwnd, const wchar_t* class_name);

template <typename Derived>
class BaseWindow {
 public:
  BaseWindow() = default;
  BaseWindow(const BaseWindow&) = delete;
  BaseWindow& operator=(const BaseWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  // A window that outlives its object is destroyed without reaching it.
  ~BaseWindow() {
    if (hwnd_ == nullptr) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }

  // A hidden window of a class of its own that only carries messages to this object: a
  // message-only one for parent HWND_MESSAGE, a top-level one (which hears broadcasts) for
  // nullptr. False if it could not be made.
  bool CreateHiddenWindow(const wchar_t* class_name, HWND parent) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassExW(&wc);  // a second registration in the same process fails harmlessly
    return CreateWindowExW(WS_EX_TOOLWINDOW, class_name, L"", WS_POPUP, 0, 0, 0, 0, parent, nullptr,
                           wc.hInstance, static_cast<Derived*>(this)) != nullptr;
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Derived* self = nullptr;
    if (msg == WM_NCCREATE) {
      self = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<Derived*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);

    LRESULT result = 0;
    try {
      result = self->HandleMessage(msg, wp, lp);
    } catch (const std::exception& e) {
      ReportWindowError(hwnd, e.what());
      result = DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->hwnd_ = nullptr;
    }
    return result;
  }

  HWND hwnd_ = nullptr;
};

}  // namespace qyr
