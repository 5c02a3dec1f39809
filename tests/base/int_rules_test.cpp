#include "base/int_rules.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(IntegerRule, AcceptsDecimalAndEveryHexPrefix) {
  struct Case {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"  12", 12},
      {"+7", 7},
      {"-15", -15},
      {"$1E", 30},
      {"$1e", 30},
      {"x1E", 30},
      {"X1e", 30},
      {"0x1E", 30},
      {"0X1E", 30},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
      {"-0x80000000", -2147483647 - 1},
      {"007", 7},
  };
  for (const Case& c : cases) {
    const IntParse r = ParseInteger(c.text);
    EXPECT_TRUE(r.ok()) << c.text;
    EXPECT_EQ(r.value, c.value) << c.text;
  }
}

TEST(IntegerRule, RejectsWithTheRightKind) {
  struct Case {
    const char* text;
    IntError error;
  } cases[] = {
      {"", IntError::kEmpty},
      {"   ", IntError::kEmpty},
      {"abc", IntError::kSyntax},
      {"12s", IntError::kSyntax},
      {"12 ", IntError::kSyntax},
      {"1 2", IntError::kSyntax},
      {"-", IntError::kSyntax},
      {"$", IntError::kSyntax},
      {"0x", IntError::kSyntax},
      {"$1G", IntError::kSyntax},
      {"\t12", IntError::kSyntax},
      {"--1", IntError::kSyntax},
      {"1.5", IntError::kSyntax},
      {"2147483648", IntError::kRange},
      {"-2147483649", IntError::kRange},
      {"$80000000", IntError::kRange},
      {"$FFFFFFFF", IntError::kRange},
      {"99999999999999999999999", IntError::kRange},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseInteger(c.text).error, c.error) << c.text;
  }
}

TEST(IntegerRule, LenientFallsBackAndStrictNamesTheText) {
  EXPECT_EQ(IntegerOr("0x1E", 15), 30);
  EXPECT_EQ(IntegerOr("abc", 15), 15);
  EXPECT_EQ(IntegerOr("", 25), 25);
  EXPECT_EQ(InvalidIntegerMessage("12s"), "'12s' is not a valid integer value");
}

}  // namespace
}  // namespace qyr
