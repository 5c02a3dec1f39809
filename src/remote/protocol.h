#pragma once
// The command protocol of the showroom control system: how received bytes become 16-bit units,
// which command a converted message holds, and what the program shows and answers for it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qyr {

// Messages are converted to this ANSI code page before they are matched.
inline constexpr unsigned kCommandCodePage = 936;

// The bytes as the control systems' encoder is taken to write UTF-8: one unit per step, the
// continuation bytes never checked, bytes missing at the end counted as 0. The units end
// before the first zero unit, so a zero byte in the message cuts it there.
std::u16string DecodeCommandUnits(std::string_view bytes);

// kNonce asks for the challenge of a signed power command; a PC without a hall key takes it for
// an unknown message.
enum class Command { kPowerOff, kReboot, kCheck, kTest, kStatus, kNonce, kUnknown };

// The first command word (in table order, ASCII case ignored) found anywhere in the text.
// `text` is the message in code page 936; the match is byte-wise. The status query comes last,
// so that a message holding one of the older words means what it always did.
Command MatchCommand(std::string_view text);

// Whether the received bytes are an HTTP request rather than a command: a request line (a method
// such as "GET" and a space at the start, or " HTTP/" and a digit on the first line) or a
// "Host:" header at the start of any line, ASCII case ignored but in the method. Any web page can
// make a browser send its text to the port, so such a message is never a command, whatever it
// holds.
bool IsHttpRequest(std::string_view bytes);

// The status line text before the message itself (UTF-8).
std::string_view StatusPrefix(Command command);

// The command word itself ("QyrNOR_PC_OFF"); empty for an unknown message.
std::string_view CommandWord(Command command);

// "OK" for every command word, "ERR" otherwise. For kStatus that is only the first word: its
// TCP reply is the whole StatusReply line.
std::string_view ReplyFor(Command command);

inline constexpr std::size_t kStatusSlots = 4;

// The reply to a status query: "OK up=<whole seconds running> 1=<state> 2=... 4=<state>", ASCII,
// no line end. The states are the slots' state words, slot 1 first.
std::string StatusReply(std::uint64_t uptime_ms,
                        const std::array<std::string_view, kStatusSlots>& states);

// The text of the countdown screen a power command raises; empty for the others.
std::string_view PowerScreenText(Command command);

// The read size of the data handler for `pending` bytes: all of them up to 1024, otherwise
// 1023 per read (a backlog of 1025 bytes goes as 1023 and 2).
std::int32_t HandlerReadSize(std::int32_t pending);

inline constexpr std::int32_t kHandlerBufferSize = 1024;

}  // namespace qyr
