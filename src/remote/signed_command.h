#pragma once
// Signed power commands. With a hall key set on the PC, a power command is obeyed only over TCP
// and only after a challenge on the same connection:
//   peer: QyrNOR_PC_NONCE            PC: OK <32 hex digits, one use>
//   peer: QyrNOR_PC_OFF <128 hex>    PC: OK (or ERR)
// The 128 hex digits are an ECDSA P-256 signature (r then s, 32 bytes each, big-endian) by the
// hall's private key over SHA-256 of the ASCII text "QyrNOR_PC_OFF <nonce>". This file holds the
// wire forms; the crypto is the platform's.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "remote/protocol.h"

namespace qyr {

inline constexpr std::size_t kNonceBytes = 16;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kPublicKeyBytes = 65;  // 0x04, X, Y
inline constexpr std::size_t kPrivateKeyBytes = 32;
inline constexpr std::uint64_t kNonceLifetimeMs = 30 * 1000;

using Signature = std::array<std::uint8_t, kSignatureBytes>;
using PublicKey = std::array<std::uint8_t, kPublicKeyBytes>;

// Lowercase hex.
std::string HexEncode(const std::uint8_t* bytes, std::size_t size);
template <std::size_t N>
std::string HexEncode(const std::array<std::uint8_t, N>& bytes) {
  return HexEncode(bytes.data(), N);
}
// Exactly N bytes as 2N hex digits of either case; nothing else (no blanks, no prefix).
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> HexDecode(std::string_view text);
extern template std::optional<std::array<std::uint8_t, kNonceBytes>> HexDecode(std::string_view);
extern template std::optional<std::array<std::uint8_t, kSignatureBytes>> HexDecode(
    std::string_view);
extern template std::optional<std::array<std::uint8_t, kPublicKeyBytes>> HexDecode(
    std::string_view);
extern template std::optional<std::array<std::uint8_t, kPrivateKeyBytes>> HexDecode(
    std::string_view);

// SignedBy: 130 hex digits, "04" then X and Y, blanks around allowed, and a point of the curve
// (a digit typed wrong almost never is one).
std::optional<PublicKey> ParsePublicKey(std::string_view text);
// X and Y below the field prime, and y^2 = x^3 - 3x + b.
bool OnP256Curve(const PublicKey& key);

// The PC's answer to QyrNOR_PC_NONCE, and the peer's reading of it (the nonce's hex digits).
std::string NonceReply(std::string_view nonce_hex);
std::optional<std::string> ParseNonceReply(std::string_view reply);

// What is signed: "<WORD> <nonce>", the word as the command table writes it.
std::string SignedText(Command command, std::string_view nonce_hex);

// The message a signing peer sends: "<WORD> <signature hex>".
std::string SignedCommandMessage(Command command, const Signature& signature);

struct SignedCommand {
  Command command = Command::kUnknown;
  Signature signature{};
};
// A power command word (ASCII case ignored) with one space and 128 hex digits after it, and at
// most a line end (CR LF or LF) after those. Anything else is not a signed command.
std::optional<SignedCommand> ParseSignedCommand(std::string_view message);

bool IsPowerCommand(Command command);

// Why a power command is refused when the hall key is set; kNone: its signature is to be checked
// over the text `to_verify`.
enum class SignedRefusal { kNone, kOverUdp, kNotSigned, kNoNonce };
struct SignedCheck {
  SignedRefusal refusal = SignedRefusal::kNone;
  SignedCommand signed_command;
  std::string to_verify;
};
// `nonce` is what the connection held for this message (already used up by it).
SignedCheck CheckPowerMessage(std::string_view message, bool tcp,
                              const std::optional<std::string>& nonce);

// The log's word for a refusal ("not signed", ...); "bad signature" when the check failed.
std::string_view SignedRefusalText(SignedRefusal refusal);

// The nonces handed out, one per TCP connection: the next message on the connection uses its
// nonce up, whatever it is, and a nonce lapses after kNonceLifetimeMs. Bounded: past kMaxHeld
// connections the oldest nonce is dropped.
class NonceBook {
 public:
  static constexpr std::size_t kMaxHeld = 5000;
  void Give(std::uint64_t connection, std::string nonce_hex, std::uint64_t now_ms);
  std::optional<std::string> Take(std::uint64_t connection, std::uint64_t now_ms);
  std::size_t Held() const { return held_.size(); }

 private:
  struct Given {
    std::string nonce;
    std::uint64_t given_ms = 0;
  };
  void DropLapsed(std::uint64_t now_ms);
  std::map<std::uint64_t, Given> held_;
};

}  // namespace qyr
