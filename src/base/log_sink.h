#pragma once
// Where a part puts its lines for the command log. The window owns the one log and hands it to
// every part that logs; the parts below remote/ know it only by this.
#include <string_view>

namespace qyr {

class LogSink {
 public:
  // Keeps the line when the log is on; never raises, never waits for the file.
  virtual void Log(std::string_view event) = 0;

 protected:
  ~LogSink() = default;
};

}  // namespace qyr
