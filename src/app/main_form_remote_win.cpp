// The main window's side of the remote control: opening the listeners, taking each received
// message through the command protocol, and answering on TCP.
#include <string>

#include "app/main_form_win.h"
#include "base/wide_win.h"
#include "launch/settings_win.h"
#include "remote/command_log.h"
#include "remote/protocol.h"
#include "remote/protocol_win.h"

namespace qyr {

namespace {

constexpr const char* kRemoteLabel = "TCP/UDP受控中端口:";

}  // namespace

void TMainForm::WireRemoteControl() {
  for (Listener* listener : {&tcp_listener_, &udp_listener_}) {
    listener->on_message = [this](std::string_view bytes, const Source& from,
                                  const Listener::Reply& reply) {
      OnCommandReceived(bytes, from, reply);
    };
  }
  tcp_listener_.accepts = [this](const Source& peer) { return AllowedSource(peer); };
}

bool TMainForm::AllowedSource(const Source& source) {
  if (AllowsSource(allow_list_, source)) return true;
  if (!command_log_.On()) return false;
  const std::string event = refusals_.Refuse(source, GetTickCount64());
  if (!event.empty()) Log(event);
  TimerRefusals.SetEnabled(refusals_.HasCounted());
  return false;
}

void TMainForm::LogCountedRefusals(bool all) {
  for (const std::string& event : refusals_.Due(GetTickCount64(), all)) Log(event);
  TimerRefusals.SetEnabled(refusals_.HasCounted());
}

void TMainForm::Log(std::string_view event) {
  command_log_.Write(event);
  // Armed by the first kept line only: a busy peer costs no timer call per command.
  TimerLog.SetEnabled(command_log_.HasKept());
}

void TMainForm::FlushLog() {
  command_log_.Flush();
  TimerLog.SetEnabled(false);
}

void TMainForm::StartRemoteControl() {
  const RemoteSettings settings = ReadRemoteSettings(SettingsPath());
  if (settings.log) command_log_ = CommandLogFile(SiblingPath(exe_path_, ".log"));
  Log("QyrDelay started: " + exe_path_);
  allow_list_ = ParseAllowList(settings.allow_from);
  if (!allow_list_.ok()) {
    // Never fail open: without a list that can be read, nobody is served.
    ShowStatus(AllowListOffText(allow_list_));
    Log("remote control off: invalid AllowFrom entry " + EscapeForLog(allow_list_.bad_entry));
    return;
  }
  try {
    tcp_listener_.Open(remote_.address, remote_.port);
    SetControlText(ControlId::LabelTCP, kRemoteLabel + std::to_string(tcp_listener_.Port()));
    udp_listener_.Open(remote_.address, remote_.port);
  } catch (const std::exception&) {
    // Remote control is an extra: without the port the launcher runs on, and says nothing.
  }
}

void TMainForm::StopRemoteControl() {
  tcp_listener_.Close();
  udp_listener_.Close();
  SessionEnding(true);
}

void TMainForm::SessionEnding(bool ending) {
  LogCountedRefusals(true);
  if (ending) StopKeeping();  // nothing starts again while the program ends
  if (ending && !end_logged_) {
    end_logged_ = true;
    Log("QyrDelay ended");
  }
  FlushLog();
}

void TMainForm::OnCommandReceived(std::string_view bytes, const Source& from,
                                  const Listener::Reply& reply) {
  // A datagram from outside the list, or from a sender that cannot be told, has been read; it
  // is dropped unseen.
  if (!from.tcp && !AllowedSource(from)) return;
  const std::string text = Utf8ToCodePage(bytes, kCommandCodePage);
  const Command command = MatchCommand(text);
  // The answer goes first, so that the peer does not wait for the screen or the log; datagram
  // peers are never answered.
  if (from.tcp && reply) reply(ReplyTo(command));
  ObeyCommand(command, text);
  if (command_log_.On()) Log(CommandEvent(from, bytes, command));
}

std::string TMainForm::HandleCommand(std::string_view text) {
  const Command command = MatchCommand(text);
  ObeyCommand(command, text);
  return ReplyTo(command);
}

void TMainForm::ObeyCommand(Command command, std::string_view text) {
  Render(power_.OnCommand(command, CodePageToUtf8(text, kCommandCodePage)));
}

}  // namespace qyr
