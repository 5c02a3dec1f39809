// Received bytes as code-page-936 text, converted by the system as the protocol asks.
#include "remote/protocol_win.h"

#include <string>
#include <vector>

#include "base/wide_win.h"
#include "remote/command_log.h"
#include "remote/command_log_win.h"
#include "remote/protocol.h"
#include "remote/signature_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(Utf8ToCodePage, ConvertsTheDecodedUnitsTo936) {
  struct Case {
    std::string bytes;
    std::string text;
    const char* what;
  } cases[] = {
      {"QyrNOR_PC_OFF\r\n", "QyrNOR_PC_OFF\r\n", "ascii with line end"},
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4", "Chinese"},
      {"a\xE0\xB8\x81z", "a?z", "no such character: the default one"},
      {std::string("QyrNOR\0_PC_CHECK", 16), "QyrNOR", "cut at a zero byte"},
      {std::string("\0abc", 4), "", "zero first byte"},
      {"", "", "empty"},
      {"\xF0\x9F\x98\x80", "?", "four-byte form"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToCodePage(c.bytes, kCommandCodePage), c.text) << c.what;
  }
}

TEST(CommandLogFile, AppendsLinesRollsOverAtOneMebibyteAndDropsWhatItCannotWrite) {
  test::ScratchDir dir("Qyr_log");
  const std::string path = dir / "QyrDelay.log";
  CommandLogFile off;
  off.Write("never written");
  EXPECT_FALSE(off.On());
  EXPECT_FALSE(off.HasKept());

  // Kept until the flush, and the file is not held between flushes.
  CommandLogFile log(path);
  log.Write("QyrDelay started");
  log.Write("TCP 127.0.0.1:5 QyrNOR_PC_TEST -> OK");
  EXPECT_TRUE(log.HasKept());
  EXPECT_FALSE(test::FileExists(path));
  log.Flush();
  EXPECT_FALSE(log.HasKept());
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)),
            (std::vector<std::string>{"QyrDelay started", "TCP 127.0.0.1:5 QyrNOR_PC_TEST -> OK"}));
  EXPECT_TRUE(DeleteFileW(Utf8ToWide(path).c_str()));

  // Nearly full: the next flush moves everything to the old file, which keeps one generation.
  const std::string old(kLogLimitBytes - 20, 'x');
  test::WriteFileBytes(dir / "QyrDelay.log.1", "older still");
  test::WriteFileBytes(path, old);
  log.Write("UDP 127.0.0.1:5 QyrNOR_PC_CHECK -> none");
  log.Flush();
  EXPECT_EQ(test::ReadFileBytes(dir / "QyrDelay.log.1"), old);
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)),
            std::vector<std::string>{"UDP 127.0.0.1:5 QyrNOR_PC_CHECK -> none"});

  // A flood is written as it comes in blocks, not all kept: nothing is lost.
  const std::string event(100, 'e');
  const std::size_t flood = kLogKeptBytes / event.size() + 10;
  for (std::size_t i = 0; i < flood; ++i) log.Write(event);
  EXPECT_LT(test::LogEvents(test::ReadFileBytes(path)).size(), flood + 1);
  EXPECT_GT(test::LogEvents(test::ReadFileBytes(path)).size(), 1u);
  log.Flush();
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(path)).size(), flood + 1);

  // A log that cannot be written (a folder in its place: the tests run as root, which ignores
  // read-only files) loses what one flush carried, and only that.
  CommandLogFile blocked(dir / "blocked.log");
  CreateDirectoryW(Utf8ToWide(blocked.Path()).c_str(), nullptr);
  blocked.Write("lost");
  blocked.Flush();
  RemoveDirectoryW(Utf8ToWide(blocked.Path()).c_str());
  blocked.Write("kept");
  blocked.Flush();
  EXPECT_EQ(test::LogEvents(test::ReadFileBytes(blocked.Path())), std::vector<std::string>{"kept"});

  // An old file that cannot be written (a folder in its place): the log keeps its newest half
  // and goes on, flush after flush, instead of stopping for good.
  CommandLogFile stuck(dir / "stuck.log");
  CreateDirectoryW(Utf8ToWide(stuck.OldPath()).c_str(), nullptr);
  std::string full;
  for (int i = 0; full.size() < kLogLimitBytes - 40; ++i) {
    full += LogLine({2026, 12, 8, 9, 0, 0, 0}, "line " + std::to_string(i));
  }
  test::WriteFileBytes(stuck.Path(), full);
  for (const char* event : {"first after", "second after"}) {
    stuck.Write(event);
    stuck.Flush();
  }
  const std::vector<std::string> kept = test::LogEvents(test::ReadFileBytes(stuck.Path()));
  ASSERT_GT(kept.size(), 2u);
  const std::vector<std::string> newest_half = test::LogEvents(full.substr(NewestHalfStart(full)));
  EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.end() - 2), newest_half);
  EXPECT_EQ(std::vector<std::string>(kept.end() - 2, kept.end()),
            (std::vector<std::string>{"first after", "second after"}));
}

// Published ECDSA P-256 / SHA-256 vectors: NIST's worked example (a message) and the first
// signature of the FIPS 186-4 SigGen set (given by its digest).
struct Vector {
  const char* public_key;
  const char* message;  // nullptr: `digest` is given
  const char* digest;
  const char* signature;
};
constexpr Vector kNistExample = {
    "04b7e08afdfe94bad3f1dc8c734798ba1c62b3a0ad1e9ea2a38201cd0889bc7a19"
    "3603f747959dbf7a4bb226e41928729063adc7ae43529e61b563bbc606cc5e09",
    "Example of ECDSA with P-256",
    "a41a41a12a799548211c410c65d8133afde34d28bdd542e4b680cf2899c8a8c4",
    "2b42f576d07f4165ff65d1f3b1500f81e44c316f1f0b3ef57325b69aca46104f"
    "dc42c2122d6392cd3e3a993a89502a8198c1886fe69d262c4b329bdb6b63faf1"};
constexpr Vector kSigGen = {
    "041ccbe91c075fc7f4f033bfa248db8fccd3565de94bbfb12f3c59ff46c271bf83"
    "ce4014c68811f9a21a1fdb2c0e6113e06db7ca93b7404e78dc7ccd5ca89a4ca9",
    nullptr, "44acf6b7e36c1342c2c5897204fe09504e1e2efb1a900377dbc4e7a6a133ec56",
    "f3ac8061b514795b8843e3d6629527ed2afd6b1f6a555a7acabb5e6f79c8c2ac"
    "8bf77819ca05a6b2786c76262bf7371cef97b218e96f175a3ccdda2acc058903"};

TEST(SignatureVerifier, AcceptsThePublishedVectorsAndNothingAltered) {
  const Sha256Digest example_digest = *HexDecode<32>(kNistExample.digest);
  EXPECT_EQ(Sha256(kNistExample.message), example_digest);
  const auto verifier = [](const Vector& v) {
    return SignatureVerifier::ForKey(*ParsePublicKey(v.public_key));
  };
  const auto signature = [](const Vector& v) { return *HexDecode<kSignatureBytes>(v.signature); };
  ASSERT_TRUE(verifier(kNistExample)) << "the system has no ECDSA P-256";
  Signature flipped_r = signature(kNistExample);
  flipped_r[5] ^= 0x01;
  Signature flipped_s = signature(kNistExample);
  flipped_s[63] ^= 0x80;
  EXPECT_TRUE(verifier(kNistExample)->Verify(kNistExample.message, signature(kNistExample)));
  EXPECT_FALSE(
      verifier(kNistExample)->Verify("Example of ECDSA with P-257", signature(kNistExample)));
  EXPECT_FALSE(verifier(kNistExample)->Verify(kNistExample.message, flipped_r));
  EXPECT_FALSE(verifier(kNistExample)->Verify(kNistExample.message, flipped_s));
  EXPECT_FALSE(verifier(kNistExample)->Verify(kNistExample.message, Signature{}));
  // Another key's signature, and the right signature under another key.
  const Sha256Digest siggen_digest = *HexDecode<32>(kSigGen.digest);
  EXPECT_TRUE(verifier(kSigGen)->VerifyDigest(siggen_digest, signature(kSigGen)));
  EXPECT_FALSE(verifier(kSigGen)->VerifyDigest(siggen_digest, signature(kNistExample)));
  EXPECT_FALSE(verifier(kNistExample)->VerifyDigest(siggen_digest, signature(kSigGen)));
}

TEST(SignatureVerifier, NoncesAreFreshHex) {
  const std::optional<std::string> a = RandomNonceHex(), b = RandomNonceHex();
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(HexDecode<kNonceBytes>(*a));
  EXPECT_NE(*a, *b);
}

}  // namespace
}  // namespace qyr
