#pragma once
// The hall's forms of qyrsend: `serve` (the hall page) and `start` (the morning start).
#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <string>

#include "args.h"
#include "console.h"
#include "morning_start.h"
#include "sweep.h"

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

// `serve ...` and `start ...` (args without the program name, the form's word first): parses
// them with CLI11 and runs the form; its exit code.
int RunHallCommand(const std::vector<std::string>& args);

// Reads and checks the hosts file; prints why and returns nullopt when it is unusable.
std::optional<Hall> LoadHall(const HallOptions& options);

// The options' forms that the flags cannot check alone (--broadcast) into options.net; false
// after saying why.
bool CheckNet(HallOptions& options);
// The key of --key into options.net; false after saying why it is unusable.
bool LoadKey(HallOptions& options);

int RunStart(const HallOptions& options);
int RunServe(const HallOptions& options);  // server.cpp

// A path of UTF-8 text; a plain std::string path is the system's code page on Windows.
std::filesystem::path PathOf(const std::string& utf8);

// The file beside the hosts file ("qyrsend-hall.log").
std::string BesideHosts(const std::string& hosts_file, const std::string& name);

}  // namespace qyrsend
