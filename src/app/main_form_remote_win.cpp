// The main window's side of the remote control: opening the listeners, taking each received
// message through the command protocol, and answering on TCP.
#include <exception>
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
  SocketServer1.SetProto("tcp");
  SocketServer_udp.SetProto("udp");
  for (TSocketServer* server : {&SocketServer1, &SocketServer_udp}) {
    server->OnClientConnect = [this](TSocketServer& sender, TSocketClient& client,
                                     std::uint16_t error) {
      SocketServer1ClientConnect(sender, client, error);
    };
    server->OnDataAvailable = [this](TCustomSocket& sender, std::uint16_t err_code) {
      SocketServer1DataAvailable(sender, err_code);
    };
  }
  SocketServer1.OnAcceptSource = [this](const Source& peer) { return AllowedSource(peer); };
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
    SocketServer1.SetAddr(remote_.addr);
    SocketServer1.SetPort(remote_.port);
    SocketServer1.Listen();
    SetControlText(ControlId::LabelTCP, kRemoteLabel + SocketServer1.Port());
    SocketServer_udp.SetAddr(remote_.addr);
    SocketServer_udp.SetPort(remote_.port);
    SocketServer_udp.Listen();
  } catch (const std::exception&) {
    // Remote control is an extra: without the port the launcher runs on, and says nothing.
  }
}

void TMainForm::StopRemoteControl() {
  SocketServer1.Close();
  SocketServer_udp.Close();
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

void TMainForm::SocketServer1ClientConnect(TSocketServer& /*sender*/, TSocketClient& client,
                                           std::uint16_t /*error*/) {
  client.OnDataAvailable = [this](TCustomSocket& sender, std::uint16_t err_code) {
    SocketServer1DataAvailable(sender, err_code);
  };
}

void TMainForm::SocketServer1DataAvailable(TCustomSocket& sender, std::uint16_t /*err_code*/) {
  char buffer[kHandlerBufferSize] = {};
  const std::int32_t size = HandlerReadSize(sender.PendingCount());
  const std::int32_t n = sender.Receive(buffer, size);
  const std::string message(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  // A datagram from outside the list, or from a sender that cannot be told, has been read; it
  // is dropped unseen.
  if (!sender.Peer().tcp && !AllowedSource(sender.Peer())) return;
  const std::string text = Utf8ToCodePage(message, kCommandCodePage);
  const Command command = MatchCommand(text);
  // The answer goes first, so that the peer does not wait for the screen or the log; datagram
  // peers are never answered. The command is carried out even when its answer cannot go.
  const std::string reply = ReplyTo(command);
  std::exception_ptr send_failure;
  if (!reply.empty() && sender.Proto() == "tcp") {
    try {
      sender.Send(reply.data(), static_cast<std::int32_t>(reply.size()));
    } catch (const ESocketException&) {
      send_failure = std::current_exception();
    }
  }
  ObeyCommand(command, text);
  if (command_log_.On()) Log(CommandEvent(sender.Peer(), message, command));
  if (send_failure) std::rethrow_exception(send_failure);
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
