#pragma once
// What qyrsend is asked to do: the classic forms' arguments and the usage text. No sockets here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "replies.h"

namespace qyrsend {

inline constexpr int kUsageExitCode = 2;

struct Options {
  Transport transport = Transport::Tcp;
  std::uint16_t port = kDefaultPort;
  int timeout_ms = kDefaultTimeoutMs;
  bool crlf = false;
  bool help = false;
  std::string hosts_file = {};           // empty: none
  std::optional<std::string> zone = {};  // --zone: only this zone of the hosts file
  std::vector<std::string> hosts = {};   // from the command line, as written
  std::string command = {};
  // --wake: Wake-on-LAN magic packets to the MACs in `command` (and the hosts file).
  bool wake = false;
  std::uint32_t broadcast = 0xFFFFFFFF;  // IPv4, host byte order
  int repeat = kDefaultWakeRepeat;       // each magic packet this many times
  // --status: asks every host for its status (`command` is the query word); --json with it.
  bool status = false;
  bool json = false;
  // keygen: a new key pair into key_base.key and key_base.pub; nothing is sent.
  bool keygen = false;
  std::string key_base = {};
  // --key: a power command goes as the signed exchange, by the private key in this file.
  std::string key_file = {};
};

struct ParsedArgs {
  std::optional<Options> options;  // empty on a usage error
  std::string error;
};

// `args` without the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

std::string_view UsageText();

}  // namespace qyrsend
