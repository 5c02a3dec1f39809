// Received bytes as code-page-936 text, converted by the system as the protocol asks.
#include "remote/protocol_win.h"

#include <gtest/gtest.h>

#include <string>

#include "remote/protocol.h"

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

}  // namespace
}  // namespace qyr
