#include "base/window_base_win.h"

#include <iterator>
#include <utility>

#include "base/wide_win.h"

namespace qyr {

namespace {

WindowErrorSink& Sink() {
  static WindowErrorSink sink;
  return sink;
}

}  // namespace

void SetWindowErrorSink(WindowErrorSink sink) { Sink() = std::move(sink); }

void ReportWindowError(HWND window, const std::string& message) {
  if (Sink()) {
    Sink()(window, message);
    return;
  }
  // No sink set: a plain box rather than an error that nobody sees.
  MessageBoxW(nullptr, Utf8ToWide(message).c_str(), nullptr, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

HWND FindProcessWindow(DWORD process_id, const std::function<bool(HWND)>& wanted) {
  struct Search {
    DWORD process_id;
    const std::function<bool(HWND)>& wanted;
    HWND found;
  } search{process_id, wanted, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != s->process_id || !s->wanted(hwnd)) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasWindowClass(HWND hwnd, const wchar_t* class_name) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  return lstrcmpW(name, class_name) == 0;
}

}  // namespace qyr
