#pragma once
// The key files of `qyrsend keygen` and the signed exchange of `--key`. No sockets, no files.
//   BASE.key (owner only): the scalar d, 64 lowercase hex digits, LF; the public key, LF.
//   BASE.pub: the public key, "04" then X and Y, 130 lowercase hex digits, LF.
#include <optional>
#include <string>
#include <string_view>

#include "remote/protocol.h"
#include "sender.h"
#include "signer.h"

namespace qyrsend {

inline constexpr std::string_view kDefaultKeyBase = "hall";
// A key file is two short lines: anything larger is no key file.
inline constexpr std::size_t kMaxKeyFileBytes = 4096;

std::string PrivateKeyFileText(const HallKey& key);
std::string PublicKeyFileText(const qyr::PublicKey& key);

// The pair in a private key file (a CR before each LF and a missing last LF are taken as well);
// empty with `error` saying what is wrong.
std::optional<HallKey> ParsePrivateKeyFile(std::string_view text, std::string& error);

// The power command that `command` names, written as the table writes it or in another letter
// case; nothing for any other command.
std::optional<qyr::Command> PowerCommandNamed(std::string_view command);

// The signed exchange of one power command: QyrNOR_PC_NONCE, then the command signed over the
// nonce the PC answered, then its reply, judged as a plain command's. `line_end` goes after both
// messages.
Dialogue SignedDialogue(qyr::Command command, const HallKey& key, std::string_view line_end);

// What the PC's ERR to QyrNOR_PC_NONCE means.
inline constexpr std::string_view kNoSignedCommands =
    "to QyrNOR_PC_NONCE: SignedBy is not set there";

}  // namespace qyrsend
