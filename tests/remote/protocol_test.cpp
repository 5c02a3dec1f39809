#include "remote/protocol.h"

#include <string>

#include <gtest/gtest.h>

namespace qyr {
namespace {

using namespace std::string_literals;

TEST(CommandDecoder, OneUnitPerStepAsTheControlSystemsSendIt) {
  struct Case {
    std::string bytes;
    std::u16string units;
    const char* what;
  } cases[] = {
      {"QyrNOR_PC_TEST\r\n", u"QyrNOR_PC_TEST\r\n", "ascii"},
      {"\xC3\xA9", u"\u00E9", "two-byte form"},
      {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587", "three-byte forms"},
      {"\xC3"
       "A",
       u"\u00C1", "continuation byte not checked"},
      // A four-byte lead is read as a three-byte one; its last byte starts a step of its own.
      {"\xF0\x9F\x98\x80xyz", u"\u07D8\u0E39z", "four-byte lead"},
      // ...and at the end of the message its missing bytes count as 0: a zero unit, cut off.
      {"\xF0\x9F\x98\x80", u"\u07D8", "four-byte lead at the end"},
      {"\x80"
       "AB",
       u"B", "stray continuation byte takes two more"},
      {"\xBF"
       "AB!",
       u"\uF042!", "stray continuation keeps its low four bits"},
      {"a\xE4\xB8", u"a\u4E00", "truncated three-byte form"},
      {"\xC3", u"\u00C0", "truncated two-byte form"},
      {"QyrNOR\0_PC_CHECK"s, u"QyrNOR", "zero byte cuts"},
      {"\0QyrNOR_PC_CHECK"s, u"", "zero first byte"},
      {"Q\0y\0r\0"s, u"Q", "UTF-16 text"},
      {"\xC0\x80"
       "abc",
       u"", "overlong zero cuts too"},
      {"", u"", "empty"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeCommandUnits(c.bytes), c.units) << c.what;
}

TEST(CommandMatcher, WordsInTableOrderAnywhereAnyAsciiCase) {
  struct Case {
    std::string text;
    Command command;
  } cases[] = {
      {"QyrNOR_PC_OFF", Command::kPowerOff},
      {"qyrnor_pc_check", Command::kCheck},
      {"QYRNOR_PC_REBOOT", Command::kReboot},
      {"QyrNOR_PC_OFF\r\n", Command::kPowerOff},
      {"QyrNOR_PC_REBOOT QyrNOR_PC_OFF", Command::kPowerOff},
      {"QyrNOR_PC_OFFQyrNOR_PC_REBOOT", Command::kPowerOff},
      {"QyrNOR_PC_CHECK+QyrNOR_PC_REBOOT", Command::kReboot},
      {"##QyrNOR_PC_TEST##", Command::kTest},
      {"\xD6\xD0QyrNOR_PC_TEST\xCE\xC4", Command::kTest},
      {"qyrnor_pc_Status\r\n", Command::kStatus},
      // The status query is tried last: a message with an older word stays that command.
      {"x QyrNOR_PC_STATUS QyrNOR_PC_CHECK", Command::kCheck},
      {"QyrNOR_PC_STATUSQyrNOR_PC_OFF", Command::kPowerOff},
      {"QyrNOR_PC_TEST QyrNOR_PC_STATUS", Command::kTest},
      {"QyrNOR_PC_NONCE\r\n", Command::kNonce},
      {"QyrNOR_PC_NONCE QyrNOR_PC_OFF", Command::kPowerOff},
      {"QyrNOR_PC_STATU", Command::kUnknown},
      {"QyrNOR_PC_OF", Command::kUnknown},
      {"QyrNOR PC TEST", Command::kUnknown},
      {"", Command::kUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchCommand(c.text), c.command) << c.text;
}

TEST(HttpRequest, AnyRequestLineOrHostHeaderIsRefusedPlainCommandsAreNot) {
  struct Case {
    std::string bytes;
    bool http;
  } cases[] = {
      // What curl and a browser's <img> send for http://PC:26908/img.gif?QyrNOR_PC_OFF.
      {"GET /img.gif?QyrNOR_PC_OFF HTTP/1.1\r\nHost: 127.0.0.1:26908\r\nUser-Agent: "
       "curl/8.5.0\r\nAccept: */*\r\n\r\n",
       true},
      {"GET /img.gif?QyrNOR_PC_OFF HTTP/1.1\r\nHost: 192.168.1.20:26908\r\nConnection: "
       "keep-alive\r\nUser-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64)\r\nAccept: "
       "image/avif,image/webp,*/*\r\nReferer: http://example.com/\r\n\r\n",
       true},
      // A page's form or fetch() puts the word in the body.
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\n\r\nQyrNOR_PC_OFF", true},
      {"HEAD /QyrNOR_PC_OFF HTTP/1.0\r\n\r\n", true},
      {"OPTIONS * HTTP/1.1\r\n", true},
      {"PUT /QyrNOR_PC_REBOOT", true},
      {"DELETE /", true},
      {"PATCH /", true},
      {"CONNECT 127.0.0.1:26908 HTTP/1.1", true},
      {"TRACE /", true},
      {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", true},
      // A request read in pieces: the later pieces give themselves away too.
      {"NOR_PC_OFF HTTP/1.1\r\nHost: x\r\n", true},
      {"?QyrNOR_PC_OFF http/1.0", true},
      {"Accept: */*\r\nhost: 10.0.0.5\r\n\r\n", true},
      {"Accept: */*\nHOST:10.0.0.5", true},
      {"hOsT: x\r\n", true},
      // Control strings, with or without line ends and whatever is around the word.
      {"QyrNOR_PC_OFF", false},
      {"QyrNOR_PC_OFF\r\n", false},
      {"\r\nQyrNOR_PC_CHECK\r\n", false},
      {"xxQyrNOR_PC_OFFyy", false},
      {"##QyrNOR_PC_TEST## host", false},
      {"中文 QyrNOR_PC_TEST 展厅", false},
      {"GETQyrNOR_PC_CHECK", false},
      {"get QyrNOR_PC_CHECK", false},
      {"TARGET QyrNOR_PC_OFF", false},
      {" GET QyrNOR_PC_OFF", false},
      {"QyrNOR_PC_OFF HTTP/", false},
      {"QyrNOR_PC_OFF HTTP/x", false},
      {"QyrNOR_PC_CHECK\r\nover HTTP/1.1", false},
      {"QyrNOR_PC_TEST HTTP/\r\n1", false},
      {"ghost: QyrNOR_PC_TEST", false},
      {"QyrNOR_PC_TEST host: x", false},
      {"Host QyrNOR_PC_TEST", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsHttpRequest(c.bytes), c.http) << c.bytes;
}

TEST(CommandMatcher, StatusRepliesAndScreens) {
  struct Case {
    Command command;
    const char* status;
    const char* reply;
    const char* screen;
  } cases[] = {
      {Command::kPowerOff, "收到指令:关闭电脑", "OK", "正在关机中..."},
      {Command::kReboot, "收到指令:重启电脑", "OK", "正在重启中..."},
      {Command::kCheck, "收到指令:查询状态", "OK", ""},
      {Command::kTest, "收到指令:通讯测试", "OK", ""},
      {Command::kStatus, "收到指令:查询运行状态", "OK", ""},
      {Command::kNonce, "收到指令:请求签名随机数", "OK", ""},
      {Command::kUnknown, "未知指令", "ERR", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusPrefix(c.command), c.status);
    EXPECT_EQ(ReplyFor(c.command), c.reply);
    EXPECT_EQ(PowerScreenText(c.command), c.screen);
  }
}

TEST(CommandMatcher, TheStatusReplyIsOneAsciiLine) {
  EXPECT_EQ(StatusReply(999, {"none", "none", "none", "none"}),
            "OK up=0 1=none 2=none 3=none 4=none");
  EXPECT_EQ(StatusReply(61999, {"run", "wait", "restart", "opened"}),
            "OK up=61 1=run 2=wait 3=restart 4=opened");
  EXPECT_EQ(StatusReply(std::uint64_t{1} << 40, {"ended", "failed", "none", "none"}),
            "OK up=1099511627 1=ended 2=failed 3=none 4=none");
}

TEST(CommandMatcher, ReadSizeTakesABacklogIn1023BytePieces) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0, 0}, {15, 15}, {1023, 1023}, {1024, 1024}, {1025, 1023}, {3000, 1023}, {-1, 0}};
  for (auto [pending, size] : cases) EXPECT_EQ(HandlerReadSize(pending), size) << pending;
}

}  // namespace
}  // namespace qyr
