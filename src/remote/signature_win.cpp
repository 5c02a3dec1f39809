#include "remote/signature_win.h"

#include <cstring>
#include <vector>

#include "base/system_dll_win.h"

namespace qyr {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

UCHAR* Bytes(const void* data) { return static_cast<UCHAR*>(const_cast<void*>(data)); }

}  // namespace

std::optional<SignatureVerifier> SignatureVerifier::ForKey(const PublicKey& key) {
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (!Succeeded(
          cng::OpenAlgorithmProvider(&raw_algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  UniqueAlgorithm algorithm(raw_algorithm);
  // The blob is the header, then X and Y: the point without its leading 0x04.
  constexpr ULONG kCoordinate = 32;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate);
  const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key.data() + 1, 2 * kCoordinate);
  BCRYPT_KEY_HANDLE raw_key = nullptr;
  if (!Succeeded(cng::ImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &raw_key,
                                    blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return std::nullopt;
  }
  return SignatureVerifier(std::move(algorithm), UniqueCryptKey(raw_key));
}

bool SignatureVerifier::Verify(std::string_view message, const Signature& signature) const {
  const std::optional<Sha256Digest> digest = Sha256(message);
  return digest && VerifyDigest(*digest, signature);
}

bool SignatureVerifier::VerifyDigest(const Sha256Digest& digest, const Signature& signature) const {
  return Succeeded(cng::VerifySignature(key_.get(), nullptr, Bytes(digest.data()),
                                        static_cast<ULONG>(digest.size()), Bytes(signature.data()),
                                        static_cast<ULONG>(signature.size()), 0));
}

std::optional<Sha256Digest> Sha256(std::string_view bytes) {
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (!Succeeded(cng::OpenAlgorithmProvider(&raw_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  const UniqueAlgorithm algorithm(raw_algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(cng::CreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
    return std::nullopt;
  }
  Sha256Digest digest{};
  const bool ok =
      Succeeded(cng::HashData(hash, Bytes(bytes.data()), static_cast<ULONG>(bytes.size()), 0)) &&
      Succeeded(cng::FinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  cng::DestroyHash(hash);
  if (!ok) return std::nullopt;
  return digest;
}

std::optional<std::string> RandomNonceHex() {
  std::array<std::uint8_t, kNonceBytes> bytes{};
  if (!Succeeded(cng::GenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  return HexEncode(bytes);
}

}  // namespace qyr
