#pragma once
// The hall's forms of qyrsend: `serve` (the hall page) and `start` (the morning start).
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "hall_run.h"
#include "morning_start.h"

namespace qyrsend {

inline constexpr const char* kDefaultListen = "127.0.0.1:8908";
inline constexpr int kDefaultEveryS = 5;

struct HallOptions {
  std::string hosts_file;
  std::string zone;  // empty: every zone
  bool zone_given = false;
  bool json = false;
  std::string listen = kDefaultListen;
  std::string token_file;  // empty: beside the hosts file
  std::string log_file;    // empty: beside the hosts file
  std::string key_file;
  int every_s = kDefaultEveryS;
  std::uint16_t port = kDefaultPort;
  std::string broadcast = "255.255.255.255";
  HallNet net;
  StartSettings start;
};

// Adds the two subcommands to `app`; each runs its form when chosen.
void AddHallCommands(CLI::App& app, HallOptions& options, int& exit_code);

// Reads and checks the hosts file; prints why and returns nullopt when it is unusable.
std::optional<Hall> LoadHall(const HallOptions& options);

int RunStart(const HallOptions& options);
int RunServe(const HallOptions& options);  // hall_server.cpp

// The file beside the hosts file ("qyrsend-hall.log").
std::string BesideHosts(const std::string& hosts_file, const std::string& name);

void PrintOut(const std::string& utf8);
void PrintErr(const std::string& utf8);

}  // namespace qyrsend
