#include "remote/signed_command.h"

#include "base/text.h"

namespace qyr {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view WithoutLineEnd(std::string_view text) {
  if (text.ends_with("\r\n")) {
    text.remove_suffix(2);
  } else if (text.ends_with('\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// Just enough field arithmetic modulo the P-256 prime to tell a point of the curve: numbers are
// little-endian 32-bit limbs, products reduced bit by bit. Slow, and run once at start.
using Limbs = std::array<std::uint32_t, 8>;

constexpr Limbs kPrime = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000,
                          0x00000000, 0x00000000, 0x00000001, 0xFFFFFFFF};
constexpr Limbs kB = {0x27D2604B, 0x3BCE3C3E, 0xCC53B0F6, 0x651D06B0,
                      0x769886BC, 0xB3EBBD55, 0xAA3A93E7, 0x5AC635D8};

Limbs FromBigEndian(const std::uint8_t* bytes) {
  Limbs n{};
  for (std::size_t i = 0; i < 32; ++i) {
    n[7 - i / 4] |= static_cast<std::uint32_t>(bytes[i]) << (8 * (3 - i % 4));
  }
  return n;
}

bool Below(const Limbs& a, const Limbs& b) {
  for (std::size_t i = 8; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

// a - b, for a >= b (or with the borrow out of the top dropped).
Limbs Subtract(const Limbs& a, const Limbs& b) {
  Limbs r{};
  std::uint64_t borrow = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::uint64_t d = std::uint64_t{a[i]} - b[i] - borrow;
    r[i] = static_cast<std::uint32_t>(d);
    borrow = (d >> 32) & 1;
  }
  return r;
}

// a + b, and whether it carried out of the top.
Limbs Add(const Limbs& a, const Limbs& b, bool& carried) {
  Limbs r{};
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::uint64_t s = std::uint64_t{a[i]} + b[i] + carry;
    r[i] = static_cast<std::uint32_t>(s);
    carry = s >> 32;
  }
  carried = carry != 0;
  return r;
}

Limbs AddMod(const Limbs& a, const Limbs& b) {
  bool carried = false;
  const Limbs r = Add(a, b, carried);
  return carried || !Below(r, kPrime) ? Subtract(r, kPrime) : r;
}

Limbs SubMod(const Limbs& a, const Limbs& b) {
  bool carried = false;
  return Below(a, b) ? Add(Subtract(a, b), kPrime, carried) : Subtract(a, b);
}

Limbs MulMod(const Limbs& a, const Limbs& b) {
  std::array<std::uint32_t, 16> product{};
  for (std::size_t i = 0; i < 8; ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < 8; ++j) {
      const std::uint64_t t = std::uint64_t{a[i]} * b[j] + product[i + j] + carry;
      product[i + j] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    product[i + 8] = static_cast<std::uint32_t>(carry);
  }
  Limbs r{};
  for (std::size_t bit = 512; bit-- > 0;) {
    const bool set = ((product[bit / 32] >> (bit % 32)) & 1) != 0;
    const bool top = (r[7] >> 31) != 0;
    for (std::size_t i = 8; i-- > 1;) r[i] = r[i] << 1 | r[i - 1] >> 31;
    r[0] = r[0] << 1 | (set ? 1u : 0u);
    if (top || !Below(r, kPrime)) r = Subtract(r, kPrime);
  }
  return r;
}

}  // namespace

bool OnP256Curve(const PublicKey& key) {
  const Limbs x = FromBigEndian(key.data() + 1);
  const Limbs y = FromBigEndian(key.data() + 33);
  if (key[0] != 0x04 || !Below(x, kPrime) || !Below(y, kPrime)) return false;
  const Limbs three_x = AddMod(AddMod(x, x), x);
  const Limbs right = AddMod(SubMod(MulMod(MulMod(x, x), x), three_x), kB);
  return MulMod(y, y) == right;
}

std::string HexEncode(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> HexDecode(std::string_view text) {
  if (text.size() != N * 2) return std::nullopt;
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return bytes;
}

template std::optional<std::array<std::uint8_t, kNonceBytes>> HexDecode(std::string_view);
template std::optional<std::array<std::uint8_t, kSignatureBytes>> HexDecode(std::string_view);
template std::optional<std::array<std::uint8_t, kPublicKeyBytes>> HexDecode(std::string_view);
template std::optional<std::array<std::uint8_t, kPrivateKeyBytes>> HexDecode(std::string_view);

std::optional<PublicKey> ParsePublicKey(std::string_view text) {
  const std::optional<PublicKey> key = HexDecode<kPublicKeyBytes>(TrimBlanks(text));
  // Only the uncompressed form: a compressed or hybrid point is another format.
  if (!key || (*key)[0] != 0x04 || !OnP256Curve(*key)) return std::nullopt;
  return key;
}

std::string NonceReply(std::string_view nonce_hex) { return "OK " + std::string(nonce_hex); }

std::optional<std::string> ParseNonceReply(std::string_view reply) {
  reply = WithoutLineEnd(reply);
  if (!reply.starts_with("OK ")) return std::nullopt;
  const std::string_view nonce = reply.substr(3);
  if (!HexDecode<kNonceBytes>(nonce)) return std::nullopt;
  return std::string(nonce);
}

std::string SignedText(Command command, std::string_view nonce_hex) {
  return std::string(CommandWord(command)) + " " + std::string(nonce_hex);
}

std::string SignedCommandMessage(Command command, const Signature& signature) {
  return std::string(CommandWord(command)) + " " + HexEncode(signature);
}

bool IsPowerCommand(Command command) {
  return command == Command::kPowerOff || command == Command::kReboot;
}

std::optional<SignedCommand> ParseSignedCommand(std::string_view message) {
  message = WithoutLineEnd(message);
  const std::size_t space = message.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string word = AsciiLower(message.substr(0, space));
  for (const Command command : {Command::kPowerOff, Command::kReboot}) {
    if (word != AsciiLower(CommandWord(command))) continue;
    const std::optional<Signature> signature =
        HexDecode<kSignatureBytes>(message.substr(space + 1));
    if (!signature) return std::nullopt;
    return SignedCommand{command, *signature};
  }
  return std::nullopt;
}

SignedCheck CheckPowerMessage(std::string_view message, bool tcp,
                              const std::optional<std::string>& nonce) {
  SignedCheck check;
  if (!tcp) {
    check.refusal = SignedRefusal::kOverUdp;
    return check;
  }
  const std::optional<SignedCommand> parsed = ParseSignedCommand(message);
  if (!parsed) {
    check.refusal = SignedRefusal::kNotSigned;
    return check;
  }
  check.signed_command = *parsed;
  if (!nonce) {
    check.refusal = SignedRefusal::kNoNonce;
    return check;
  }
  check.to_verify = SignedText(parsed->command, *nonce);
  return check;
}

std::string_view SignedRefusalText(SignedRefusal refusal) {
  switch (refusal) {
    case SignedRefusal::kOverUdp:
      return "refused: power commands must be signed, over TCP";
    case SignedRefusal::kNotSigned:
      return "refused: not signed";
    case SignedRefusal::kNoNonce:
      return "refused: no nonce given on this connection, or it was used or lapsed";
    case SignedRefusal::kNone:
      break;
  }
  return "refused: bad signature";
}

void NonceBook::Give(std::uint64_t connection, std::string nonce_hex, std::uint64_t now_ms) {
  DropLapsed(now_ms);
  if (held_.size() >= kMaxHeld && held_.find(connection) == held_.end()) {
    auto oldest = held_.begin();
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->second.given_ms < oldest->second.given_ms) oldest = it;
    }
    held_.erase(oldest);
  }
  held_[connection] = {std::move(nonce_hex), now_ms};
}

std::optional<std::string> NonceBook::Take(std::uint64_t connection, std::uint64_t now_ms) {
  const auto it = held_.find(connection);
  if (it == held_.end()) return std::nullopt;
  Given held = std::move(it->second);
  held_.erase(it);
  if (now_ms - held.given_ms >= kNonceLifetimeMs) return std::nullopt;
  return std::move(held.nonce);
}

void NonceBook::DropLapsed(std::uint64_t now_ms) {
  std::erase_if(held_, [now_ms](const auto& entry) {
    return now_ms - entry.second.given_ms >= kNonceLifetimeMs;
  });
}

}  // namespace qyr
