#include "remote/protocol.h"

#include <algorithm>
#include <array>

#include "base/text.h"
#include "remote/countdown.h"

namespace qyr {

namespace {

struct CommandRow {
  Command command;
  std::string_view word;
  std::string_view status;
  std::string_view screen;
};

// Matched in this order: OFF wins over REBOOT when a message holds both.
constexpr std::array<CommandRow, 6> kRows = {{
    {Command::kPowerOff, "QyrNOR_PC_OFF", "收到指令:关闭电脑", kPowerOffScreenText},
    {Command::kReboot, "QyrNOR_PC_REBOOT", "收到指令:重启电脑", kRebootScreenText},
    {Command::kCheck, "QyrNOR_PC_CHECK", "收到指令:查询状态", ""},
    {Command::kTest, "QyrNOR_PC_TEST", "收到指令:通讯测试", ""},
    {Command::kStatus, "QyrNOR_PC_STATUS", "收到指令:查询运行状态", ""},
    {Command::kNonce, "QyrNOR_PC_NONCE", "收到指令:请求签名随机数", ""},
}};

constexpr std::string_view kUnknownStatus = "未知指令";

// Every method a browser, a proxy or a WebDAV client sends.
constexpr std::array<std::string_view, 10> kHttpMethods = {
    "GET ", "POST ", "HEAD ", "PUT ", "DELETE ", "OPTIONS ", "PATCH ", "CONNECT ", "TRACE ", "PRI ",
};

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

const CommandRow* RowOf(Command command) {
  for (const CommandRow& row : kRows) {
    if (row.command == command) return &row;
  }
  return nullptr;
}

}  // namespace

std::u16string DecodeCommandUnits(std::string_view bytes) {
  auto at = [&](std::size_t i) -> unsigned {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
  };
  std::u16string units;
  units.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned b = at(i);
    unsigned unit = 0;
    if (b < 0x80) {
      unit = b;
      i += 1;
    } else if ((b & 0xE0) == 0xC0) {
      unit = ((b & 0x1F) << 6) | (at(i + 1) & 0x3F);
      i += 2;
    } else {
      unit = ((b & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3F);
      i += 3;
    }
    if (unit == 0) break;
    units.push_back(static_cast<char16_t>(unit & 0xFFFF));
  }
  return units;
}

Command MatchCommand(std::string_view text) {
  // The words lowered once, not for every message.
  static const std::array<std::string, kRows.size()> kLowerWords = [] {
    std::array<std::string, kRows.size()> words;
    for (std::size_t i = 0; i < kRows.size(); ++i) words[i] = AsciiLower(kRows[i].word);
    return words;
  }();
  const std::string lower = AsciiLower(text);
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (std::string_view(lower).find(kLowerWords[i]) != std::string_view::npos) {
      return kRows[i].command;
    }
  }
  return Command::kUnknown;
}

bool IsHttpRequest(std::string_view bytes) {
  // Every sign of one holds a space or a colon: a command word alone is looked at no further.
  if (bytes.find_first_of(" :") == std::string_view::npos) return false;
  for (const std::string_view method : kHttpMethods) {
    if (bytes.starts_with(method)) return true;
  }
  const std::string lower = AsciiLower(bytes);
  const std::string_view text = lower;
  const std::size_t first_line_end = std::min(text.find_first_of("\r\n"), text.size());
  for (std::size_t at = text.find(" http/"); at < first_line_end;
       at = text.find(" http/", at + 1)) {
    const std::size_t digit = at + 6;
    if (digit < first_line_end && text[digit] >= '0' && text[digit] <= '9') return true;
  }
  for (std::size_t at = text.find("host:"); at != std::string_view::npos;
       at = text.find("host:", at + 1)) {
    if (at == 0 || IsLineEnd(text[at - 1])) return true;
  }
  return false;
}

std::string_view StatusPrefix(Command command) {
  const CommandRow* row = RowOf(command);
  return row != nullptr ? row->status : kUnknownStatus;
}

std::string_view CommandWord(Command command) {
  const CommandRow* row = RowOf(command);
  return row != nullptr ? row->word : std::string_view();
}

std::string_view ReplyFor(Command command) { return RowOf(command) != nullptr ? "OK" : "ERR"; }

std::string StatusReply(std::uint64_t uptime_ms,
                        const std::array<std::string_view, kStatusSlots>& states) {
  std::string line =
      std::string(ReplyFor(Command::kStatus)) + " up=" + std::to_string(uptime_ms / 1000);
  for (std::size_t i = 0; i < states.size(); ++i) {
    line += " " + std::to_string(i + 1) + "=" + std::string(states[i]);
  }
  return line;
}

std::string_view PowerScreenText(Command command) {
  const CommandRow* row = RowOf(command);
  return row != nullptr ? row->screen : std::string_view();
}

std::int32_t HandlerReadSize(std::int32_t pending) {
  if (pending < 0) return 0;  // a count past 2 GiB would otherwise ask recv for a negative size
  return pending <= kHandlerBufferSize ? pending : kHandlerBufferSize - 1;
}

}  // namespace qyr
