// Load generator for the remote-control port, run natively against the program under Wine:
//
//   qyr_load MODE --port P [--port P2 ...] [OPTIONS]
//
// one mode a file beside this one (latency, throughput, churn, soak, newcomer, wait, signed),
// each saying what it measures, over the shared connection helper in load.h. Results are printed
// as key=value lines for bench/run.sh.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "load.h"

namespace {

using qyr::load::Options;

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: qyr_load latency|throughput|churn|soak|newcomer|wait|signed --port P "
               "[--msgs M] [--warmup W] [--block B] [--pause MS]"
               " [--conns N] [--seconds S] [--slices K] [--pid PID] [--server-pid W] [--count K]"
               " [--parallel C]"
               " [--peers N] [--commands C] [--timeout S]\n");
  std::exit(2);
}

Options ParseArgs(int argc, char** argv) {
  if (argc < 2) Usage();
  Options o;
  o.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--port")
      o.ports.push_back(std::atoi(value));
    else if (key == "--conns")
      o.conns = std::atoi(value);
    else if (key == "--msgs")
      o.msgs = std::atoi(value);
    else if (key == "--warmup")
      o.warmup = std::atoi(value);
    else if (key == "--block")
      o.block = std::atoi(value);
    else if (key == "--pause")
      o.pause_ms = std::atoi(value);
    else if (key == "--seconds")
      o.seconds = std::atof(value);
    else if (key == "--slices")
      o.slices = std::atoi(value);
    else if (key == "--pid")
      o.pids.push_back(std::atoi(value));
    else if (key == "--server-pid")
      o.server_pid = std::atoi(value);
    else if (key == "--count")
      o.count = std::atoi(value);
    else if (key == "--parallel")
      o.parallel = std::atoi(value);
    else if (key == "--peers")
      o.peers = std::atoi(value);
    else if (key == "--commands")
      o.commands = std::atol(value);
    else if (key == "--timeout")
      o.timeout_s = std::atof(value);
    else
      Usage();
  }
  if (o.ports.empty() ||
      std::any_of(o.ports.begin(), o.ports.end(), [](int p) { return p <= 0 || p > 65535; }) ||
      o.conns <= 0 || o.msgs <= 0 || o.warmup < 0 || o.block <= 0 || o.pause_ms < 0 ||
      o.seconds <= 0 || o.slices <= 0 || o.count < 0 || o.parallel <= 0 || o.peers <= 0 ||
      o.commands < 0)
    Usage();
  return o;
}

struct Mode {
  std::string_view name;
  int (*run)(const Options&);
};

constexpr Mode kModes[] = {
    {"latency", qyr::load::RunLatency},   {"throughput", qyr::load::RunThroughput},
    {"churn", qyr::load::RunChurn},       {"soak", qyr::load::RunSoak},
    {"newcomer", qyr::load::RunNewcomer}, {"wait", qyr::load::RunWait},
    {"signed", qyr::load::RunSigned},
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  for (const Mode& mode : kModes)
    if (o.mode == mode.name) return mode.run(o);
  Usage();
}
