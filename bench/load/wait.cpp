// qyr_load wait  --port P [--timeout S]
//       Connects until the port accepts; prints the wall-clock time it first did.
#include <chrono>
#include <cstdio>
#include <thread>

#include "load.h"

#include <poll.h>
#include <unistd.h>

namespace qyr::load {

int RunWait(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  while (Clock::now() < deadline) {
    const int fd = StartConnect(o.ports[0]);
    if (fd >= 0) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 200) == 1 && ConnectDone(fd)) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        std::printf("ready_at=%.3f\n", std::chrono::duration<double>(now).count());
        close(fd);
        return 0;
      }
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("ready_at=none\n");
  return 1;
}

}  // namespace qyr::load
