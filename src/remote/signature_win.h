#pragma once
// The hall key's check of a signed power command, and the nonces it is given for, with the
// system's own cryptography (CNG): ECDSA P-256 over SHA-256.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

#include "base/handles_win.h"
#include "remote/signed_command.h"

namespace qyr {

using Sha256Digest = std::array<std::uint8_t, 32>;

class SignatureVerifier {
 public:
  // Nothing when the system refuses the key (not a point of the curve) or has no ECDSA.
  static std::optional<SignatureVerifier> ForKey(const PublicKey& key);

  bool Verify(std::string_view message, const Signature& signature) const;
  bool VerifyDigest(const Sha256Digest& digest, const Signature& signature) const;

 private:
  SignatureVerifier(UniqueAlgorithm algorithm, UniqueCryptKey key)
      : algorithm_(std::move(algorithm)), key_(std::move(key)) {}
  UniqueAlgorithm algorithm_;
  UniqueCryptKey key_;
};

std::optional<Sha256Digest> Sha256(std::string_view bytes);

// kNonceBytes from the system's random source, as hex; nothing if the source fails.
std::optional<std::string> RandomNonceHex();

}  // namespace qyr
