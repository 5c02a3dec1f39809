#include <cstring>
#include <vector>

#include "base/handles_win.h"
#include "remote/signature_win.h"
#include "signer.h"

namespace qyrsend {

namespace {

constexpr ULONG kCoordinate = 32;

bool Succeeded(NTSTATUS status) { return status >= 0; }

qyr::UniqueAlgorithm OpenEcdsa() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Succeeded(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return qyr::UniqueAlgorithm();
  }
  return qyr::UniqueAlgorithm(algorithm);
}

}  // namespace

std::optional<HallKey> GenerateHallKey() {
  const qyr::UniqueAlgorithm algorithm = OpenEcdsa();
  BCRYPT_KEY_HANDLE raw_key = nullptr;
  if (!algorithm || !Succeeded(BCryptGenerateKeyPair(algorithm.get(), &raw_key, 256, 0))) {
    return std::nullopt;
  }
  const qyr::UniqueCryptKey key(raw_key);
  ULONG size = 0;
  if (!Succeeded(BCryptFinalizeKeyPair(key.get(), 0)) ||
      !Succeeded(
          BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0))) {
    return std::nullopt;
  }
  // The header, then X, Y and d.
  std::vector<UCHAR> blob(size);
  BCRYPT_ECCKEY_BLOB header = {};
  if (!Succeeded(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size,
                                 &size, 0)) ||
      size != sizeof(header) + 3 * kCoordinate) {
    return std::nullopt;
  }
  std::memcpy(&header, blob.data(), sizeof(header));
  if (header.cbKey != kCoordinate) return std::nullopt;
  HallKey pair;
  pair.public_key[0] = 0x04;
  std::memcpy(pair.public_key.data() + 1, blob.data() + sizeof(header), 2 * kCoordinate);
  std::memcpy(pair.secret.data(), blob.data() + sizeof(header) + 2 * kCoordinate, kCoordinate);
  SecureZeroMemory(blob.data(), blob.size());
  return pair;
}

std::optional<qyr::Signature> Sign(const HallKey& key, std::string_view text) {
  const qyr::UniqueAlgorithm algorithm = OpenEcdsa();
  const std::optional<qyr::Sha256Digest> digest = qyr::Sha256(text);
  if (!algorithm || !digest) return std::nullopt;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate);
  const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kCoordinate};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), key.public_key.data() + 1, 2 * kCoordinate);
  std::memcpy(blob.data() + sizeof(header) + 2 * kCoordinate, key.secret.data(), kCoordinate);
  BCRYPT_KEY_HANDLE raw_key = nullptr;
  const bool imported =
      Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &raw_key,
                                    blob.data(), static_cast<ULONG>(blob.size()), 0));
  SecureZeroMemory(blob.data(), blob.size());
  if (!imported) return std::nullopt;
  const qyr::UniqueCryptKey private_key(raw_key);
  qyr::Signature signature{};
  ULONG length = 0;
  // CNG writes r then s, as the wire carries them.
  if (!Succeeded(BCryptSignHash(private_key.get(), nullptr, const_cast<UCHAR*>(digest->data()),
                                static_cast<ULONG>(digest->size()), signature.data(),
                                static_cast<ULONG>(signature.size()), &length, 0)) ||
      length != signature.size()) {
    return std::nullopt;
  }
  return signature;
}

bool Verify(const qyr::PublicKey& key, std::string_view text, const qyr::Signature& signature) {
  const std::optional<qyr::SignatureVerifier> verifier = qyr::SignatureVerifier::ForKey(key);
  return verifier && verifier->Verify(text, signature);
}

std::optional<std::string> RandomHex(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  if (!Succeeded(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                                 BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  return qyr::HexEncode(bytes.data(), count);
}

}  // namespace qyrsend
