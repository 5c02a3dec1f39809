#include "base/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(CommandLine, EveryArgumentComesBackWhole) {
  struct Case {
    std::string arg;
    std::string quoted;
  } cases[] = {
      {"--save", "--save"},
      {"", "\"\""},
      {"C:\\Show Room\\QyrPlayer_V3.exe", "\"C:\\Show Room\\QyrPlayer_V3.exe\""},
      {"D:\\展厅\\欢迎.pptx", "D:\\展厅\\欢迎.pptx"},
      {"D:\\展厅 二\\", "\"D:\\展厅 二\\\\\""},  // the trailing backslash must not eat the quote
      {"C:\\dir\\", "C:\\dir\\"},                // no quotes needed: the backslash stays single
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},  // a backslash before a quote doubles, the quote is escaped
      {"a\\\\b c", "\"a\\\\b c\""},  // backslashes elsewhere stay as they are
      {"\t12 ", "\"\t12 \""},
      {"line\nbreak", "\"line\nbreak\""},
      {"\"", "\"\\\"\""},
      {"\\\\", "\\\\"},
      {"\\ ", "\"\\ \""},
  };
  std::vector<std::string> all = {"C:\\Program Files\\QyrNOR\\QyrDelay.exe"};
  for (const Case& c : cases) {
    EXPECT_EQ(QuoteArgument(c.arg), c.quoted) << c.arg;
    EXPECT_EQ(SplitCommandLine("p " + QuoteArgument(c.arg)), (std::vector<std::string>{"p", c.arg}))
        << c.arg;
    all.push_back(c.arg);
  }
  // All of them in one line, after a quoted program name.
  EXPECT_EQ(
      SplitCommandLine("\"" + all.front() + "\" " + JoinArguments({all.begin() + 1, all.end()})),
      all);
}

TEST(CommandLine, SplitsAsTheSystemDoes) {
  struct Case {
    std::string line;
    std::vector<std::string> args;
  } cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog a  b\t c  ", {"prog", "a", "b", "c"}},
      {"\"C:\\a b\\p.exe\" x", {"C:\\a b\\p.exe", "x"}},
      {"\"C:\\a b\\\" x", {"C:\\a b\\", "x"}},  // the program name has no escapes
      {"C:\\p\\\"x y\"", {"C:\\p\\\"x", "y"}},
      {" a", {"", "a"}},  // a leading blank: an empty program name
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \\\\\\\"a", {"p", "\\\"a"}},
      {"p \\\\\"a b\"", {"p", "\\a b"}},
      {"p a\\\\b", {"p", "a\\\\b"}},
      {"p \"a\"\"b\" c", {"p", "a\"b c"}},  // two quotes inside quotes: a quote, and out
      {"p \"\"\"a\"", {"p", "\"a"}},
      {"p \"\" \"\"", {"p", "", ""}},
      {"p \"unclosed arg", {"p", "unclosed arg"}},
      {"\"unclosed name", {"unclosed name"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

}  // namespace
}  // namespace qyr
