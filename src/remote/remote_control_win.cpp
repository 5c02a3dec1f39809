#include "remote/remote_control_win.h"

#include <exception>
#include <functional>
#include <utility>

#include "base/text.h"
#include "base/wide_win.h"
#include "launch/slots.h"
#include "remote/power_screen.h"
#include "remote/protocol_win.h"

namespace qyr {

namespace {

// The status line for a power command refused for want of a valid signature (UTF-8), before the
// message itself.
constexpr std::string_view kUnsignedStatus = "拒绝指令:未签名或签名无效";

WallClock LocalWallClock() {
  SYSTEMTIME st = {};
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, WeekdayFromSundayZero(st.wDayOfWeek), st.wHour, st.wMinute};
}

}  // namespace

RemoteControl::RemoteControl(std::string exe_path, RemoteEndpoint endpoint, CommandLog& log,
                             Hooks hooks)
    : exe_path_(std::move(exe_path)),
      endpoint_(endpoint),
      hooks_(std::move(hooks)),
      log_(log),
      thread_([this](UINT_PTR timer) {
        if (timer == kTimerRefusals) LogCountedRefusals(false);
      }) {
  thread_.Call([this] {
    tcp_listener_.emplace(
        Listener::Kind::kTcp,
        Listener::Hooks{.on_message = std::bind_front(&RemoteControl::OnCommandReceived, this),
                        .accepts = [this](const Source& peer) { return AllowedSource(peer); },
                        .evicted = [this](const Source& peer) { Count(evictions_, peer); }});
    udp_listener_.emplace(
        Listener::Kind::kUdp,
        Listener::Hooks{.on_message = std::bind_front(&RemoteControl::OnCommandReceived, this)});
    refusals_timer_.Attach(thread_.Window());
  });
}

RemoteControl::~RemoteControl() {
  thread_.Call([this] {
    refusals_timer_.Detach();
    tcp_listener_.reset();
    udp_listener_.reset();
  });
}

void RemoteControl::Attach(HWND window) { window_ = window; }

RemoteEffects RemoteControl::Open(const RemoteSettings& settings) {
  RemoteEffects effects;
  if (settings.log) log_.Open(SiblingPath(exe_path_, ".log"));
  log_.Log("QyrDelay started: " + exe_path_);
  if (settings.repeat) {
    // Which of two entries was meant cannot be known, and the profile API reads only the first.
    effects.status = kRemoteOffPrefix + RepeatText(*settings.repeat);
    log_.Log("remote control off: " + RepeatLogText(*settings.repeat));
    return effects;
  }
  allow_list_ = ParseAllowList(settings.allow_from);
  if (!allow_list_.ok()) {
    // Never fail open: without a list that can be read, nobody is served.
    effects.status = AllowListOffText(allow_list_);
    log_.Log("remote control off: invalid AllowFrom entry " + EscapeForLog(allow_list_.bad_entry));
    return effects;
  }
  const std::string_view signed_by = TrimBlanks(settings.signed_by);
  if (!signed_by.empty()) {
    const std::optional<PublicKey> key = ParsePublicKey(signed_by);
    if (key) hall_key_ = SignatureVerifier::ForKey(*key);
    if (!hall_key_) {
      // A key that cannot be used would leave power commands either open or impossible.
      effects.status = RemoteOffText("SignedBy", signed_by);
      log_.Log("remote control off: invalid SignedBy entry " + EscapeForLog(signed_by));
      return effects;
    }
    log_.Log("power commands must be signed by the hall key");
  }
  try {
    thread_.Call([&] {
      tcp_listener_->Open(endpoint_.address, endpoint_.port);
      effects.port = tcp_listener_->Port();
      if (settings.udp) udp_listener_->Open(endpoint_.address, endpoint_.port);
    });
    if (!settings.udp) log_.Log("UDP closed by Udp=0");
  } catch (const std::exception&) {
    // Remote control is an extra: without the port the launcher runs on, and says nothing.
  }
  return effects;
}

void RemoteControl::Close() {
  thread_.Call([this] {
    tcp_listener_->Close();
    udp_listener_->Close();
    refusals_timer_.Detach();
  });
}

void RemoteControl::SessionEnding() {
  // Not a call: the window's thread may be inside one of the hooks, the listener thread waiting
  // for it, when the session ends.
  LogCountedRefusals(true);
}

void RemoteControl::StatusShown(std::string_view text) {
  const std::lock_guard lock(shown_mutex_);
  if (text == shown_status_) return;
  shown_status_.assign(text);
  shown_for_.reset();
}

ListenerState RemoteControl::StateOf(const std::optional<Listener>& listener) const {
  ListenerState state;
  thread_.Call([&] {
    state = {.open = listener->IsOpen(),
             .port = listener->Port(),
             .handle = listener->Handle(),
             .connections = listener->ConnectionCount(),
             .bytes_waiting = listener->BytesWaiting()};
  });
  return state;
}

ListenerState RemoteControl::Tcp() const { return StateOf(tcp_listener_); }
ListenerState RemoteControl::Udp() const { return StateOf(udp_listener_); }

bool RemoteControl::AllowedSource(const Source& source) {
  if (AllowsSource(allow_list_, source)) return true;
  Count(refusals_, source);
  return false;
}

void RemoteControl::Count(RefusalCounter& counter, const Source& source) {
  if (!log_.On()) return;
  const std::lock_guard lock(counts_mutex_);
  const std::string event = counter.Refuse(source, GetTickCount64());
  if (!event.empty()) log_.Log(event);
  refusals_timer_.SetEnabled(refusals_.HasCounted() || evictions_.HasCounted());
}

void RemoteControl::LogCountedRefusals(bool all) {
  const std::lock_guard lock(counts_mutex_);
  for (RefusalCounter* counter : {&refusals_, &evictions_}) {
    for (const std::string& event : counter->Due(GetTickCount64(), all)) log_.Log(event);
  }
  // The timer is the listener thread's; elsewhere it finds nothing due at its next tick and stops.
  if (thread_.OnThread()) {
    refusals_timer_.SetEnabled(refusals_.HasCounted() || evictions_.HasCounted());
  }
}

std::string RemoteControl::Answer(Command command) const {
  if (command != Command::kStatus) return std::string(ReplyFor(command));
  std::string answer;
  thread_.CallOwner([&] { answer = hooks_.status_reply(); });
  return answer;
}

void RemoteControl::HandOn(const RemoteEffects& effects) {
  // A power command moves the screen; any other only shows its status line, and a control system
  // that polls shows the same line again and again.
  if (!effects.status && effects.order && !IsPowerCommand(effects.order->command)) {
    const RemoteOrder& order = *effects.order;
    {
      const std::lock_guard lock(shown_mutex_);
      if (shown_for_ && shown_for_->first == order.command && shown_for_->second == order.text) {
        return;
      }
    }
    const std::string status = CommandStatus(order.command, CommandTextToUtf8(order.text));
    const std::lock_guard lock(shown_mutex_);
    if (status == shown_status_) {
      shown_for_.emplace(order.command, order.text);
      return;
    }
  }
  thread_.CallOwner([&] { hooks_.carry_out(effects); });
}

void RemoteControl::OnCommandReceived(std::string_view bytes, const Source& from,
                                      const Listener::Reply& reply) {
  // A datagram from outside the list, or from a sender that cannot be told, has been read; it
  // is dropped unseen.
  if (!from.tcp && !AllowedSource(from)) return;
  if (IsHttpRequest(bytes)) {
    // A web page can make any browser send this: another protocol, never obeyed or answered.
    reply.Close();
    if (log_.On()) log_.Log(HttpRefusedEvent(from, bytes));
    return;
  }
  const std::string text = Utf8ToCodePage(bytes, kCommandCodePage);
  Command command = MatchCommand(text);
  RemoteEffects effects;
  const std::optional<SignedOutcome> signed_outcome =
      CheckSigned(bytes, text, from, command, effects);
  // The answer goes first, so that the peer does not wait for the screen or the log; datagram
  // peers are never answered.
  if (from.tcp && reply) reply(signed_outcome ? signed_outcome->answer : Answer(command));
  if (!signed_outcome || signed_outcome->obey) effects.order = RemoteOrder{command, text, {}};
  HandOn(effects);
  if (effects.order && log_.On()) log_.Log(CommandEvent(from, bytes, command));
}

std::optional<RemoteControl::SignedOutcome> RemoteControl::CheckSigned(std::string_view bytes,
                                                                       std::string_view text,
                                                                       const Source& from,
                                                                       Command& command,
                                                                       RemoteEffects& effects) {
  if (!hall_key_) {
    // Without a hall key the challenge word means nothing, as it always did.
    if (command == Command::kNonce) command = Command::kUnknown;
    return std::nullopt;
  }
  const std::uint64_t now = GetTickCount64();
  // Whatever comes next on the connection uses its nonce up.
  const std::optional<std::string> nonce =
      from.tcp ? nonces_.Take(from.connection, now) : std::nullopt;
  if (command == Command::kNonce) {
    if (!from.tcp) return std::nullopt;
    std::optional<std::string> fresh = RandomNonceHex();
    if (!fresh) return SignedOutcome{"ERR", true};
    const std::string answer = NonceReply(*fresh);
    nonces_.Give(from.connection, std::move(*fresh), now);
    return SignedOutcome{answer, true};
  }
  if (!IsPowerCommand(command)) return std::nullopt;
  const SignedCheck check = CheckPowerMessage(bytes, from.tcp, nonce);
  if (check.refusal == SignedRefusal::kNone &&
      hall_key_->Verify(check.to_verify, check.signed_command.signature)) {
    command = check.signed_command.command;
    return SignedOutcome{std::string(ReplyFor(command)), true};
  }
  effects.status = std::string(kUnsignedStatus) + CommandTextToUtf8(text);
  if (log_.On()) {
    log_.Log(SourceText(from) + " " + std::string(CommandWord(command)) + " " +
             std::string(SignedRefusalText(check.refusal)));
  }
  return SignedOutcome{"ERR", false};
}

std::string RemoteControl::HandleCommand(std::string_view text) {
  const Command command = MatchCommand(text);
  RemoteEffects effects;
  effects.order = RemoteOrder{command, std::string(text), {}};
  hooks_.carry_out(effects);
  return Answer(command);
}

std::optional<RemoteEffects> RemoteControl::OnMessage(UINT msg, WPARAM wp, LPARAM) {
  if (msg != WM_TIMER || wp != kTimerClock) return std::nullopt;
  return OnClockTimer();
}

RemoteEffects RemoteControl::StartClock(const PowerSettings& settings) {
  RemoteEffects effects;
  if (settings.repeat) {
    effects.status = kPowerClockOffPrefix + RepeatText(*settings.repeat);
    log_.Log("power clock off: " + RepeatLogText(*settings.repeat));
    return effects;
  }
  const PowerClock clock = ParsePowerClock(settings.off_at, settings.reboot_at, settings.days);
  if (!clock.ok()) {
    // An entry that cannot be read turns the clock off, and the status line names it.
    effects.status = PowerClockOffText(clock);
    log_.Log("power clock off: invalid " + clock.bad_key + " entry " +
             EscapeForLog(clock.bad_entry));
    return effects;
  }
  if (!clock.Active()) return effects;
  clock_.emplace(clock, LocalWallClock());
  ArmClockTimer();
  return effects;
}

void RemoteControl::ArmClockTimer() {
  SYSTEMTIME st = {};
  GetLocalTime(&st);
  SetTimer(window_, kTimerClock, MsToNextMinute(st.wSecond, st.wMilliseconds), nullptr);
}

RemoteEffects RemoteControl::OnClockTimer() {
  if (!clock_) return {};
  ArmClockTimer();
  const std::optional<ClockFiring> firing = clock_->OnTimer(LocalWallClock());
  if (!firing) return {};
  const bool reboot = firing->action == PowerRequest::kReboot;
  log_.Log(reboot ? "restart by the clock" : "power-off by the clock");
  RemoteEffects effects;
  effects.order = RemoteOrder{reboot ? Command::kReboot : Command::kPowerOff, "", firing->status};
  return effects;
}

}  // namespace qyr
