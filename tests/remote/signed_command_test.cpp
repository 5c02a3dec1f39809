#include "remote/signed_command.h"

#include <string>

#include <gtest/gtest.h>

namespace qyr {
namespace {

const std::string kNonce = "9f86d081884c7d659a2feaa0c55ad015";
const std::string kSig = std::string(64, 'a') + std::string(64, 'F');

TEST(SignedCommand, WireFormsRoundTripAndRefuseEverythingElse) {
  EXPECT_EQ(NonceReply(kNonce), "OK " + kNonce);
  EXPECT_EQ(ParseNonceReply("OK " + kNonce), kNonce);
  EXPECT_EQ(ParseNonceReply("OK " + kNonce + "\r\n"), kNonce);
  EXPECT_EQ(SignedText(Command::kReboot, kNonce), "QyrNOR_PC_REBOOT " + kNonce);
  const struct {
    std::string reply;
  } bad_replies[] = {{"OK"},
                     {"ERR"},
                     {"OK " + kNonce.substr(1)},
                     {"OK " + kNonce + "0"},
                     {"OK  " + kNonce},
                     {"ok " + kNonce},
                     {"OK " + kNonce.substr(2) + "zz"}};
  for (const auto& c : bad_replies) EXPECT_FALSE(ParseNonceReply(c.reply)) << c.reply;

  Signature signature{};
  signature[0] = 0xAB;
  signature[63] = 0x01;
  const std::string sent = SignedCommandMessage(Command::kPowerOff, signature);
  EXPECT_EQ(sent.substr(0, 16), "QyrNOR_PC_OFF ab");
  const struct {
    std::string message;
    Command command;  // kUnknown: not a signed command
  } messages[] = {
      {sent, Command::kPowerOff},
      {sent + "\r\n", Command::kPowerOff},
      {"qyrnor_pc_reboot " + kSig + "\n", Command::kReboot},
      {"QyrNOR_PC_OFF", Command::kUnknown},
      {"QyrNOR_PC_OFF\r\n", Command::kUnknown},
      {"QyrNOR_PC_OFF " + kSig.substr(1), Command::kUnknown},
      {"QyrNOR_PC_OFF " + kSig + "0", Command::kUnknown},
      {"QyrNOR_PC_OFF  " + kSig, Command::kUnknown},
      {"QyrNOR_PC_OFF " + kSig + "\r\n\r\n", Command::kUnknown},
      {"x QyrNOR_PC_OFF " + kSig, Command::kUnknown},
      {"QyrNOR_PC_CHECK " + kSig, Command::kUnknown},
      {"QyrNOR_PC_OFF " + kSig.substr(0, 127) + "g", Command::kUnknown},
  };
  for (const auto& c : messages) {
    const std::optional<SignedCommand> parsed = ParseSignedCommand(c.message);
    EXPECT_EQ(parsed ? parsed->command : Command::kUnknown, c.command) << c.message;
  }
  EXPECT_EQ(ParseSignedCommand(sent)->signature, signature);
}

TEST(SignedCommand, PublicKeyIsAnUncompressedPointOfTheCurveInHex) {
  // Public keys of NIST's published P-256 examples, and the generator.
  const std::string x = "b7e08afdfe94bad3f1dc8c734798ba1c62b3a0ad1e9ea2a38201cd0889bc7a19";
  const std::string y = "3603f747959dbf7a4bb226e41928729063adc7ae43529e61b563bbc606cc5e09";
  const std::string x2 = "1CCBE91C075FC7F4F033BFA248DB8FCCD3565DE94BBFB12F3C59FF46C271BF83";
  const std::string y2 = "CE4014C68811F9A21A1FDB2C0E6113E06DB7CA93B7404E78DC7CCD5CA89A4CA9";
  const std::string gx = "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";
  const std::string gy = "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5";
  const std::string p = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";
  std::string y_typo = y;
  y_typo[20] = '0';
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"04" + x + y, true},
      {"  04" + x + y + "\t", true},
      {"04" + x2 + y2, true},
      {"04" + gx + gy, true},
      {"04" + x + y_typo, false},
      {"04" + y + x, false},
      {"04" + x + y + "0", false},
      {"03" + x + y, false},
      {"04" + x, false},
      {"", false},
      {"0x04" + x + y, false},
      {"04" + x + " " + y, false},
      {"04" + std::string(128, '0'), false},
      {"04" + p + y, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePublicKey(c.text).has_value(), c.ok) << c.text;
  EXPECT_EQ(HexEncode(*ParsePublicKey("04" + x + y)), "04" + x + y);
}

TEST(SignedCommand, APowerCommandIsCheckedOnlyWithItsConnectionsNonce) {
  const std::string signed_message = "QyrNOR_PC_OFF " + kSig;
  const struct {
    std::string message;
    bool tcp;
    std::optional<std::string> nonce;
    SignedRefusal refusal;
  } cases[] = {
      {signed_message, true, kNonce, SignedRefusal::kNone},
      {signed_message, false, kNonce, SignedRefusal::kOverUdp},
      {"QyrNOR_PC_OFF", false, std::nullopt, SignedRefusal::kOverUdp},
      {"QyrNOR_PC_OFF\r\n", true, kNonce, SignedRefusal::kNotSigned},
      {"xxQyrNOR_PC_REBOOTxx", true, kNonce, SignedRefusal::kNotSigned},
      {signed_message, true, std::nullopt, SignedRefusal::kNoNonce},
  };
  for (const auto& c : cases) {
    const SignedCheck check = CheckPowerMessage(c.message, c.tcp, c.nonce);
    EXPECT_EQ(check.refusal, c.refusal) << c.message;
    if (c.refusal == SignedRefusal::kNone) {
      EXPECT_EQ(check.to_verify, "QyrNOR_PC_OFF " + kNonce);
    }
  }
}

TEST(NonceBook, ANonceIsUsedOnceOnItsOwnConnectionWithinItsLifetime) {
  NonceBook book;
  book.Give(1, "a", 1000);
  book.Give(2, "b", 1000);
  EXPECT_FALSE(book.Take(3, 1001));  // another connection has none
  EXPECT_EQ(book.Take(1, 1001), "a");
  EXPECT_FALSE(book.Take(1, 1002));                     // used up
  EXPECT_FALSE(book.Take(2, 1000 + kNonceLifetimeMs));  // lapsed
  book.Give(4, "c", 0);
  book.Give(4, "d", 5);  // a second challenge replaces the first
  EXPECT_EQ(book.Take(4, 6), "d");
  // Bounded: a crowd of challenges that never answer drops the oldest.
  for (std::uint64_t c = 0; c < NonceBook::kMaxHeld + 10; ++c) book.Give(100 + c, "n", 2000 + c);
  EXPECT_EQ(book.Held(), NonceBook::kMaxHeld);
  EXPECT_FALSE(book.Take(100, 9000));
  EXPECT_EQ(book.Take(100 + NonceBook::kMaxHeld + 9, 9000), "n");
}

}  // namespace
}  // namespace qyr
