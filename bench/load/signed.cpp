// qyr_load signed --port P [--msgs M] [--warmup W] [--timeout S]
//       A QyrDelay with a hall key: on one connection, a plain check and then a power command's
//       whole
// challenge in turns (the nonce asked, then a signed command sent over it). The signature is a
// well-formed one by another key, so the PC does all of its checking, answers ERR and nothing
// powers off.
#include <cstdio>

#include "load.h"
#include "remote/signed_command.h"

#include <unistd.h>

namespace qyr::load {

int RunSigned(const Options& o) {
  const auto deadline = Clock::now() + FromSeconds(o.timeout_s);
  Conn c;
  c.fd = StartConnect(o.ports[0]);
  if (c.fd < 0 || !AwaitConnect(c.fd, deadline)) return 1;
  const qyr::Signature other_key = *qyr::HexDecode<qyr::kSignatureBytes>(
      "2b42f576d07f4165ff65d1f3b1500f81e44c316f1f0b3ef57325b69aca46104f"
      "dc42c2122d6392cd3e3a993a89502a8198c1886fe69d262c4b329bdb6b63faf1");
  const std::size_t nonce_reply = qyr::NonceReply(std::string(2 * qyr::kNonceBytes, '0')).size();
  std::vector<double> checks, nonces, challenges;
  long errs = 0, wrong = 0;
  for (int i = 0; i < o.warmup + o.msgs; ++i) {
    const auto check = RoundTrip(c, deadline, errs);
    const auto asked = Clock::now();
    if (!check || !SendText(c.fd, "QyrNOR_PC_NONCE")) return 1;
    const auto reply = ReadExactly(c.fd, nonce_reply, deadline);
    const auto nonce = reply ? qyr::ParseNonceReply(*reply) : std::nullopt;
    if (!nonce) {
      std::fprintf(stderr, "no nonce: %s\n", reply.value_or("<lost>").c_str());
      return 1;
    }
    const auto nonced = Clock::now();
    if (!SendText(c.fd, qyr::SignedCommandMessage(qyr::Command::kPowerOff, other_key))) return 1;
    const auto answer = ReadExactly(c.fd, 3, deadline);
    if (!answer) return 1;
    wrong += *answer == "ERR" ? 0 : 1;
    if (i < o.warmup) continue;
    checks.push_back(*check);
    nonces.push_back(Seconds(nonced - asked) * 1e6);
    challenges.push_back(Seconds(Clock::now() - asked) * 1e6);
  }
  close(c.fd);
  std::printf("check_p50_us=%.1f\nnonce_p50_us=%.1f\nchallenge_p50_us=%.1f\n",
              Percentile(checks, 0.50), Percentile(nonces, 0.50), Percentile(challenges, 0.50));
  std::printf("challenge_p99_us=%.1f\nnot_refused=%ld\nnot_ok=%ld\n", Percentile(challenges, 0.99),
              wrong, errs);
  return wrong == 0 && errs == 0 ? 0 : 1;
}

}  // namespace qyr::load
