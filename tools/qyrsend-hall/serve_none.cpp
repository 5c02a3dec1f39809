#include "hall_cli.h"

namespace qyrsend {

int RunServe(const HallOptions&) {
  PrintErr("qyrsend: serve is in the Linux build only; run the hall page there\n");
  return kUsageExitCode;
}

}  // namespace qyrsend
