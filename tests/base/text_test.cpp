#include "base/text.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(TextRules, LowerCasesAsciiOnlyAndTrimsControlBytes) {
  EXPECT_EQ(AsciiLower("QyrNOR_PC_OFF 中文"), "qyrnor_pc_off 中文");
  EXPECT_EQ(TrimBlanks(" \t 12 \r\n"), "12");
  EXPECT_EQ(TrimBlanks("中 "), "中");
  EXPECT_EQ(CharCount("C:"), 2u);
  EXPECT_EQ(CharCount("中文"), 2u);
}

}  // namespace
}  // namespace qyr
