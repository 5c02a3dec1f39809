#include "base/errors.h"

namespace qyr {

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

namespace {
ErrorSink& Sink() {
  static ErrorSink sink;
  return sink;
}
}  // namespace

void SetErrorSink(ErrorSink sink) { Sink() = std::move(sink); }

void ReportError(const std::string& message) {
  if (Sink()) Sink()(message);
}

}  // namespace qyr
