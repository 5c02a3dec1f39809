#include "base/window_base_win.h"

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

}  // namespace qyr
