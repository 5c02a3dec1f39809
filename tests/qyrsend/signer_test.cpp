// The hall key's signatures against published vectors, and the key files of keygen. Built for
// both sides: natively against libcrypto, under Wine against CNG.
#include "signer.h"

#include <string>

#include "hall_key.h"
#include "remote/signed_command.h"

#include <gtest/gtest.h>

namespace qyrsend {
namespace {

// RFC 6979, A.2.5: ECDSA over P-256 with SHA-256.
constexpr std::string_view kVectorSecret =
    "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721";
constexpr std::string_view kVectorPublic =
    "04"
    "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
    "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299";
constexpr std::string_view kSampleSignature =  // "sample"
    "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
    "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8";
constexpr std::string_view kTestSignature =  // "test"
    "f1abb023518351cd71d881567b1ea663ed3efcf6c5132b354f28d3b0b7d38367"
    "019f4113742a2b14bd25926b49c649155f267e60d3814b4c0cc84250e46f0083";

qyr::Signature SignatureOf(std::string_view hex) {
  return *qyr::HexDecode<qyr::kSignatureBytes>(hex);
}

HallKey VectorKey() {
  return {*qyr::HexDecode<qyr::kPrivateKeyBytes>(kVectorSecret),
          *qyr::ParsePublicKey(kVectorPublic)};
}

TEST(QyrsendSigning, PublishedSignaturesHoldAndAlteredOnesDoNot) {
  qyr::Signature flipped = SignatureOf(kSampleSignature);
  flipped[63] ^= 0x01;
  qyr::Signature swapped{};  // s then r
  std::copy_n(SignatureOf(kSampleSignature).begin() + 32, 32, swapped.begin());
  std::copy_n(SignatureOf(kSampleSignature).begin(), 32, swapped.begin() + 32);
  const struct {
    std::string text;
    qyr::Signature signature;
    bool holds;
  } cases[] = {
      {"sample", SignatureOf(kSampleSignature), true},
      {"test", SignatureOf(kTestSignature), true},
      {"sample", SignatureOf(kTestSignature), false},
      {"Sample", SignatureOf(kSampleSignature), false},
      {"sample\n", SignatureOf(kSampleSignature), false},
      {"sample", flipped, false},
      {"sample", swapped, false},
      {"sample", qyr::Signature{}, false},
  };
  const qyr::PublicKey key = VectorKey().public_key;
  for (const auto& c : cases) {
    EXPECT_EQ(Verify(key, c.text, c.signature), c.holds)
        << c.text << " " << qyr::HexEncode(c.signature);
  }
  // What this side signs with the vector's key holds by the same check.
  const std::optional<qyr::Signature> ours = Sign(VectorKey(), "sample");
  ASSERT_TRUE(ours);
  EXPECT_TRUE(Verify(key, "sample", *ours));
  EXPECT_FALSE(Verify(key, "test", *ours));
}

TEST(QyrsendSigning, AKeygenPairSignsForItsOwnPublicKeyAlone) {
  const std::optional<HallKey> one = GenerateHallKey();
  const std::optional<HallKey> other = GenerateHallKey();
  ASSERT_TRUE(one && other);
  EXPECT_NE(one->secret, other->secret);
  EXPECT_TRUE(qyr::OnP256Curve(one->public_key));
  const std::string text =
      qyr::SignedText(qyr::Command::kPowerOff, "9f86d081884c7d659a2feaa0c55ad015");
  const std::optional<qyr::Signature> signature = Sign(*one, text);
  ASSERT_TRUE(signature);
  EXPECT_TRUE(Verify(one->public_key, text, *signature));
  EXPECT_FALSE(Verify(other->public_key, text, *signature));
  EXPECT_FALSE(Verify(one->public_key,
                      qyr::SignedText(qyr::Command::kReboot, "9f86d081884c7d659a2feaa0c55ad015"),
                      *signature));
}

TEST(QyrsendSigning, KeyFilesAreWrittenAsAgreedAndReadBack) {
  const HallKey key = VectorKey();
  const std::string written = PrivateKeyFileText(key);
  EXPECT_EQ(written, std::string(kVectorSecret) + "\n" + std::string(kVectorPublic) + "\n");
  EXPECT_EQ(PublicKeyFileText(key.public_key), std::string(kVectorPublic) + "\n");

  std::string upper = written;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string secret(kVectorSecret);
  const std::string pub(kVectorPublic);
  const struct {
    std::string text;
    std::string error;  // empty: read as the vector's key
  } cases[] = {
      {written, ""},
      {secret + "\r\n" + pub + "\r\n", ""},  // saved by a Windows editor
      {secret + "\n" + pub, ""},
      {upper, ""},
      {pub + "\n", "is the public key; --key takes the private one (BASE.key)"},
      {secret + "\n", "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)"},
      {secret + "\n" + pub + "\n\n",
       "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)"},
      {secret.substr(2) + "\n" + pub + "\n",
       "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)"},
      {secret + "\n04" + std::string(128, '1') + "\n",  // no point of the curve
       "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)"},
      {"", "is not a key file of qyrsend keygen (two lines: 64 and 130 hex digits)"},
  };
  for (const auto& c : cases) {
    std::string error;
    const std::optional<HallKey> read = ParsePrivateKeyFile(c.text, error);
    EXPECT_EQ(error, c.error) << c.text;
    if (!c.error.empty()) continue;
    ASSERT_TRUE(read) << c.text;
    EXPECT_EQ(read->secret, key.secret);
    EXPECT_EQ(read->public_key, key.public_key);
  }
}

}  // namespace
}  // namespace qyrsend
