#pragma once
// The hall's key pair and its signatures, ECDSA P-256 over SHA-256: OpenSSL's libcrypto on Linux,
// the system's CNG on Windows, the same as the PCs verify with.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "remote/signed_command.h"

namespace qyrsend {

using PrivateKey = std::array<std::uint8_t, qyr::kPrivateKeyBytes>;  // the scalar d, big-endian

struct HallKey {
  PrivateKey secret{};
  qyr::PublicKey public_key{};  // 0x04, X, Y
};

// A new key pair from the system's random source; nothing when the library cannot make one.
std::optional<HallKey> GenerateHallKey();

// The signature (r then s) over SHA-256 of `text`; nothing when the key is not one.
std::optional<qyr::Signature> Sign(const HallKey& key, std::string_view text);

// `count` bytes from the system's random source, as hex; nothing when it gives none.
std::optional<std::string> RandomHex(std::size_t count);

// Whether `signature` is one by the key's owner over SHA-256 of `text`.
bool Verify(const qyr::PublicKey& key, std::string_view text, const qyr::Signature& signature);

}  // namespace qyrsend
