// qyrsend-hall serve|start: the hall's forms, until qyrsend's own command line takes them.
#include "hall_cli.h"

int main(int argc, char** argv) {
  CLI::App app("qyrsend-hall: the hall page and the morning start");
  app.require_subcommand(1);
  qyrsend::HallOptions options;
  int exit_code = 0;
  qyrsend::AddHallCommands(app, options, exit_code);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : qyrsend::kUsageExitCode;
  }
  return exit_code;
}
