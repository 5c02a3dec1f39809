#include "hall_key.h"

#include <vector>

#include "base/text.h"
#include "remote/signed_command.h"

namespace qyrsend {

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Could still grow into "OK " and the nonce's hex digits.
bool MayBeNonceReply(std::string_view bytes) {
  const std::string_view head = "OK ";
  if (bytes.size() <= head.size()) return head.starts_with(bytes);
  const std::string_view digits = bytes.substr(head.size());
  return bytes.starts_with(head) && digits.size() < 2 * qyr::kNonceBytes &&
         std::all_of(digits.begin(), digits.end(), IsHexDigit);
}

}  // namespace

std::string PrivateKeyFileText(const HallKey& key) {
  return qyr::HexEncode(key.secret) + "\n" + qyr::HexEncode(key.public_key) + "\n";
}

std::string PublicKeyFileText(const qyr::PublicKey& key) { return qyr::HexEncode(key) + "\n"; }

std::optional<HallKey> ParsePrivateKeyFile(std::string_view text, std::string& error) {
  const std::vector<std::string_view> lines = Lines(text);
  if (lines.size() == 1 && qyr::ParsePublicKey(lines[0])) {
    error = "is the public key; --key takes the private one (BASE.key)";
    return std::nullopt;
  }
  const std::optional<PrivateKey> secret =
      lines.size() == 2 ? qyr::HexDecode<qyr::kPrivateKeyBytes>(lines[0]) : std::nullopt;
  const std::optional<qyr::PublicKey> public_key =
      lines.size() == 2 ? qyr::ParsePublicKey(lines[1]) : std::nullopt;
  if (!secret || !public_key) {
    error = "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)";
    return std::nullopt;
  }
  return HallKey{*secret, *public_key};
}

std::optional<qyr::Command> PowerCommandNamed(std::string_view command) {
  for (const qyr::Command power : {qyr::Command::kPowerOff, qyr::Command::kReboot}) {
    if (qyr::AsciiLower(command) == qyr::AsciiLower(qyr::CommandWord(power))) return power;
  }
  return std::nullopt;
}

Dialogue SignedDialogue(qyr::Command command, const HallKey& key, std::string_view line_end) {
  const std::string end(line_end);
  return {std::string(qyr::CommandWord(qyr::Command::kNonce)) + end,
          [command, key, end](std::size_t turn, std::string_view reply) -> Turn {
            if (turn > 0) return {ClassifyReply(reply), {}};
            if (const std::optional<std::string> nonce = qyr::ParseNonceReply(reply)) {
              // The PC signs over its nonce as it wrote it, in lowercase.
              const std::string text = qyr::SignedText(command, qyr::AsciiLower(*nonce));
              const std::optional<qyr::Signature> signature = Sign(key, text);
              if (!signature) return {Outcome{Verdict::Error, "cannot sign with this key"}, {}};
              return {std::nullopt, qyr::SignedCommandMessage(command, *signature) + end};
            }
            if (reply == "ERR") return {Outcome{Verdict::Err, std::string(kNoSignedCommands)}, {}};
            if (MayBeNonceReply(reply) || std::string_view("ERR").starts_with(reply)) return {};
            return {Outcome{Verdict::Unexpected, std::string(reply)}, {}};
          }};
}

}  // namespace qyrsend
