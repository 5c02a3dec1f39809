#pragma once
// Remote control: the TCP and UDP listeners, who may send (the allow-list), the refusal counts of
// the command log, and power by the clock, which gives the same commands at set minutes. It
// answers commands itself and returns what they ask of the PC (RemoteEffects) to the window,
// which carries it out; the status query's answer is the window's.
//
// The listeners, the allow-list's checks, the signatures and the refusal counts live on the
// listener thread; the rest, and every hook, on the window's. A message that would only show the
// status line already shown is answered without waking the window's thread.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <windows.h>

#include "base/ids_win.h"
#include "base/timer_win.h"
#include "launch/settings_win.h"
#include "remote/allow_list.h"
#include "remote/command_log.h"
#include "remote/command_log_win.h"
#include "remote/listener_thread_win.h"
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

// A command for the PC: received (`text` as received, code page 936), or given by the clock
// (`clock_status`: the status line it gives).
struct RemoteOrder {
  Command command = Command::kUnknown;
  std::string text;
  std::optional<std::string> clock_status;
};

// What remote control leaves to the window, in this order: the status line, the port label,
// then the command to carry out.
struct RemoteEffects {
  std::optional<std::string> status;
  std::optional<std::uint16_t> port;  // the port the TCP listener took
  std::optional<RemoteOrder> order;
};

// What a listener is at the moment asked, as its thread sees it.
struct ListenerState {
  bool open = false;
  std::uint16_t port = 0;
  SOCKET handle = INVALID_SOCKET;
  std::size_t connections = 0;
  std::int64_t bytes_waiting = 0;  // received on every socket and not yet handed on
};

class RemoteControl {
 public:
  struct Hooks {
    // The answer to the status query: what the launcher and the screen report.
    std::function<std::string()> status_reply;
    // What a received message leaves to the window.
    std::function<void(const RemoteEffects&)> carry_out;
  };

  // `log` is the window's command log, which this opens when [REMOTE] asks for it.
  RemoteControl(std::string exe_path, RemoteEndpoint endpoint, CommandLog& log, Hooks hooks);
  ~RemoteControl();
  RemoteControl(const RemoteControl&) = delete;
  RemoteControl& operator=(const RemoteControl&) = delete;

  void Attach(HWND window);
  // Opens the log and the listeners as [REMOTE] says; never fails open.
  RemoteEffects Open(const RemoteSettings& settings);
  // Power by the clock, from [POWER]; an entry that cannot be read turns only the clock off.
  RemoteEffects StartClock(const PowerSettings& settings);
  // Closes the listeners.
  void Close();
  // Logoff, shutdown or the end: the refusals counted so far are logged now.
  void SessionEnding();

  // A command as the listeners hand it on, without its source (code page 936 text): carried
  // out, and its answer, "OK" or "ERR", returned. Nothing is logged.
  std::string HandleCommand(std::string_view text);

  // The clock's timer; nothing if the message was not remote control's.
  std::optional<RemoteEffects> OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  // The window's thread tells what its status line shows now (UTF-8).
  void StatusShown(std::string_view text);

  ListenerState Tcp() const;
  ListenerState Udp() const;
  // Runs `work` on the listeners' thread, which serves nothing meanwhile, and waits for it.
  void OnListenerThread(const std::function<void()>& work) const { thread_.Call(work); }

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
                                           const Source& from, Command& command,
                                           RemoteEffects& effects);
  // A refusal, or a connection closed to make room for a new one: counted in the log.
  void Count(RefusalCounter& counter, const Source& source);
  // Logs the refusal counts whose minute is over (every one when `all`).
  void LogCountedRefusals(bool all);
  RemoteEffects OnClockTimer();
  void ArmClockTimer();
  std::string Answer(Command command) const;
  // On the listener thread: what a message leaves to the window, taken there.
  void HandOn(const RemoteEffects& effects);
  ListenerState StateOf(const std::optional<Listener>& listener) const;

  std::string exe_path_;
  RemoteEndpoint endpoint_;
  Hooks hooks_;
  HWND window_ = nullptr;
  // Set by Open before the listeners open, only read after.
  AllowList allow_list_;
  std::optional<SignatureVerifier> hall_key_;  // set: power commands must be signed
  NonceBook nonces_;
  CommandLog& log_;
  std::mutex counts_mutex_;  // over the two counters: counted on the listener thread, logged by
                             // either at the end
  RefusalCounter refusals_;
  RefusalCounter evictions_{kEvictedForANewOne};
  WindowTimer refusals_timer_{kTimerRefusals, static_cast<UINT>(kRefusalLineIntervalMs), false};
  std::optional<PowerClockWatch> clock_;
  std::mutex shown_mutex_;
  std::string shown_status_;  // what the window's status line shows
  // The last command that would show it again, so that a poll repeated builds no status text.
  std::optional<std::pair<Command, std::string>> shown_for_;
  ListenerThread thread_;
  // Made, used and destroyed on the listener thread.
  std::optional<Listener> tcp_listener_;
  std::optional<Listener> udp_listener_;  // never answers
};

}  // namespace qyr
