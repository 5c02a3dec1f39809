// The main window's side of the remote control: opening the listeners, taking each received
// message through the command protocol, and answering on TCP.
#include <string>

#include "app/main_form_win.h"
#include "base/wide_win.h"
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
}

void TMainForm::StartRemoteControl() {
  try {
    SocketServer1.SetAddr(remote_.addr);
    SocketServer1.SetPort(remote_.port);
    SocketServer1.Banner.clear();
    SocketServer1.BusyBanner.clear();
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
  const std::string reply = HandleCommand(Utf8ToCodePage(message, kCommandCodePage));
  // Datagram peers are never answered.
  if (!reply.empty() && sender.Proto() == "tcp") {
    sender.Send(reply.data(), static_cast<std::int32_t>(reply.size()));
  }
}

std::string TMainForm::HandleCommand(std::string_view text) {
  const Command command = MatchCommand(text);
  Render(power_.OnCommand(command, CodePageToUtf8(text, kCommandCodePage)));
  return std::string(ReplyFor(command));
}

}  // namespace qyr
