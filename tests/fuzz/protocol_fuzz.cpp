// Whatever a peer sends: the decoder and the matcher must neither crash nor misbehave.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "remote/protocol.h"
#include "remote/send_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string units = qyr::DecodeCommandUnits(bytes);
  // One unit per step of at least one byte, and never a zero unit.
  if (units.size() > size || units.find(u'\0') != std::u16string::npos) __builtin_trap();

  // The matcher sees the units' low bytes as a stand-in for the converted text.
  std::string text;
  for (char16_t u : units) text.push_back(static_cast<char>(u & 0xFF));
  const qyr::Command command = qyr::MatchCommand(text);
  const std::string_view reply = qyr::ReplyFor(command);
  if (reply != "OK" && reply != "ERR") __builtin_trap();
  if (qyr::StatusPrefix(command).empty()) __builtin_trap();
  for (const std::string_view word : {"QyrNOR_PC_TEST", "QyrNOR_PC_STATUS"}) {
    if (qyr::MatchCommand(bytes) == qyr::Command::kUnknown &&
        bytes.find(word) != std::string_view::npos) {
      __builtin_trap();
    }
  }

  // The queue under arbitrary appends and partial sends keeps every byte in order.
  qyr::SendQueue queue(4096);
  std::string expected;
  std::string sent;
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t n = data[i] % 200;
    const std::string_view piece = bytes.substr(i, n);
    if (queue.Append(piece)) expected.append(piece);
    const std::string_view front = queue.Front();
    const std::size_t take = std::min<std::size_t>(front.size(), data[i] % 7);
    sent.append(front.substr(0, take));
    queue.Consume(take);
  }
  while (!queue.Empty()) {
    sent.append(queue.Front());
    queue.Consume(queue.Front().size());
  }
  if (sent != expected) __builtin_trap();
  return 0;
}
