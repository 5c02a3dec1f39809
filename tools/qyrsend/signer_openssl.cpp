#include <memory>
#include <vector>

#include "signer.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

namespace qyrsend {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_clear_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;
using EcdsaSignature = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;

constexpr int kCoordinate = 32;

// A P-256 key from its parts; the public one alone when `secret` is null. Empty when the point is
// not on the curve.
Key KeyOf(const qyr::PublicKey& public_key, const PrivateKey* secret) {
  const ParamBuilder builder(OSSL_PARAM_BLD_new());
  Number d(secret ? BN_bin2bn(secret->data(), static_cast<int>(secret->size()), nullptr) : nullptr);
  if (!builder || (secret && !d) ||
      !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                       0) ||
      !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, public_key.data(),
                                        public_key.size()) ||
      (d && !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()))) {
    return {};
  }
  const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
  const KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
      EVP_PKEY_fromdata(context.get(), &key, secret ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        params.get()) <= 0) {
    return {};
  }
  return Key(key);
}

}  // namespace

std::optional<HallKey> GenerateHallKey() {
  const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) return std::nullopt;
  HallKey pair;
  BIGNUM* d = nullptr;
  if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1) return std::nullopt;
  const Number owned_d(d);
  std::size_t length = 0;
  if (BN_bn2binpad(d, pair.secret.data(), static_cast<int>(pair.secret.size())) < 0 ||
      EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, pair.public_key.data(),
                                      pair.public_key.size(), &length) != 1 ||
      length != pair.public_key.size() || pair.public_key[0] != 0x04) {
    return std::nullopt;
  }
  return pair;
}

std::optional<qyr::Signature> Sign(const HallKey& key, std::string_view text) {
  const Key pkey = KeyOf(key.public_key, &key.secret);
  const DigestContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!pkey || !context ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return std::nullopt;
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return std::nullopt;
  }
  // The library writes DER; the wire carries r and s as they are.
  const unsigned char* at = der.data();
  const EcdsaSignature parts(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)));
  if (!parts) return std::nullopt;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(parts.get(), &r, &s);
  qyr::Signature signature{};
  if (BN_bn2binpad(r, signature.data(), kCoordinate) < 0 ||
      BN_bn2binpad(s, signature.data() + kCoordinate, kCoordinate) < 0) {
    return std::nullopt;
  }
  return signature;
}

bool Verify(const qyr::PublicKey& key, std::string_view text, const qyr::Signature& signature) {
  const Key pkey = KeyOf(key, nullptr);
  const EcdsaSignature parts(ECDSA_SIG_new());
  if (!pkey || !parts) return false;
  BIGNUM* r = BN_bin2bn(signature.data(), kCoordinate, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + kCoordinate, kCoordinate, nullptr);
  // Once set, the signature owns them.
  if (!r || !s || ECDSA_SIG_set0(parts.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  const int length = i2d_ECDSA_SIG(parts.get(), nullptr);
  if (length <= 0) return false;
  std::vector<unsigned char> der(static_cast<std::size_t>(length));
  unsigned char* at = der.data();
  i2d_ECDSA_SIG(parts.get(), &at);
  const DigestContext context(EVP_MD_CTX_new());
  return context &&
         EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(context.get(), der.data(), der.size(),
                          reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1;
}

std::optional<std::string> RandomHex(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) return std::nullopt;
  return qyr::HexEncode(bytes.data(), count);
}

}  // namespace qyrsend
