#pragma once
// Remote control: the TCP and UDP listeners, who may send (the allow-list), the command log with
// its refusal counts, and power by the clock, which gives the same commands at set minutes. What
// a command does on the PC and what it is answered go through the hooks the window gives it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

#include "base/ids_win.h"
#include "base/timer_win.h"
#include "remote/allow_list.h"
#include "remote/command_log.h"
#include "remote/command_log_win.h"
#include "remote/listener_win.h"
#include "remote/power_clock.h"
#include "remote/protocol.h"
#include "remote/signature_win.h"
#include "remote/signed_command.h"

namespace qyr {

// Where the listeners open: all local addresses on the control system's port.
struct RemoteEndpoint {
  Ipv4 address = 0;  // 0.0.0.0
  std::uint16_t port = 26908;
};

class RemoteControl {
 public:
  struct Hooks {
    // The TCP answer to a matched command (the status query's comes from the launcher).
    std::function<std::string(Command)> reply;
    // Carries out a command: `text` is what was received, as the status line shows it.
    std::function<void(Command, std::string_view text)> obey;
    // Carries out a power command of the clock, with the status line it gives.
    std::function<void(Command, std::string_view status)> obey_clock;
    std::function<void(std::string_view)> show_status;
    // The port the TCP listener took.
    std::function<void(std::uint16_t)> show_port;
  };

  RemoteControl(std::string exe_path, RemoteEndpoint endpoint, Hooks hooks);
  ~RemoteControl();
  RemoteControl(const RemoteControl&) = delete;
  RemoteControl& operator=(const RemoteControl&) = delete;

  void Attach(HWND window);
  // Opens the log and the listeners as the settings file says; never fails open.
  void Open();
  // Power by the clock, from [POWER]; an entry that cannot be read turns only the clock off.
  void StartClock();
  // Closes the listeners; the log gets its last lines.
  void Close();
  // Logoff or shutdown: the log gets its kept lines now (and, when the session ends, the end
  // line), since the process may be ended without its window being destroyed. `before_end`
  // runs between the refusal counts and the end line.
  void SessionEnding(bool ending, const std::function<void()>& before_end = {});

  // A command as the listeners hand it on, without its source (code page 936 text): carried
  // out, and its answer, "OK" or "ERR", returned. Nothing is logged.
  std::string HandleCommand(std::string_view text);

  // Adds a line to the command log (when it is on); it reaches the file at the next flush.
  void Log(std::string_view event);
  // Writes the kept lines now (before the PC goes down).
  void FlushLog();

  // The log's timers and the clock's. True if the message was remote control's.
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  const Listener& TcpListener() const { return tcp_listener_; }
  const Listener& UdpListener() const { return udp_listener_; }

 private:
  // One message from either listener: checked, answered on TCP, carried out, logged.
  void OnCommandReceived(std::string_view bytes, const Source& from, const Listener::Reply& reply);
  bool AllowedSource(const Source& source);
  // With the hall key set: the answer to a nonce request or a power command, and whether it is
  // obeyed. Empty: the message is none of these and is served as without a key.
  struct SignedOutcome {
    std::string answer;
    bool obey = true;
  };
  std::optional<SignedOutcome> CheckSigned(std::string_view bytes, std::string_view text,
                                           const Source& from, Command& command);
  // A refusal, or a connection closed to make room for a new one: counted in the log.
  void Count(RefusalCounter& counter, const Source& source);
  // Logs the refusal counts whose minute is over (every one when `all`).
  void LogCountedRefusals(bool all);
  void OnClockTimer();
  void ArmClockTimer();

  std::string exe_path_;
  RemoteEndpoint endpoint_;
  Hooks hooks_;
  HWND window_ = nullptr;
  Listener tcp_listener_;
  Listener udp_listener_;  // never answers
  AllowList allow_list_;
  std::optional<SignatureVerifier> hall_key_;  // set: power commands must be signed
  NonceBook nonces_;
  CommandLogFile command_log_;
  WindowTimer log_timer_{kTimerLog, kLogFlushDelayMs, false};
  RefusalCounter refusals_;
  RefusalCounter evictions_{kEvictedForANewOne};
  WindowTimer refusals_timer_{kTimerRefusals, static_cast<UINT>(kRefusalLineIntervalMs), false};
  bool end_logged_ = false;
  std::optional<PowerClockWatch> clock_;
};

}  // namespace qyr
