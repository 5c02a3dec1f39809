#include "base/errors.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(ErrorBox, FullStopOnlyAfterCharactersSortingAfterDot) {
  EXPECT_EQ(ErrorBoxText("'12s' is not a valid integer value"),
            "'12s' is not a valid integer value.");
  EXPECT_EQ(ErrorBoxText("Failed to set data for 'x'"), "Failed to set data for 'x'");
  EXPECT_EQ(ErrorBoxText("Unable to write to D:\\a.ini"), "Unable to write to D:\\a.ini.");
  EXPECT_EQ(ErrorBoxText("done."), "done.");
  EXPECT_EQ(ErrorBoxText("a-"), "a-");
  EXPECT_EQ(ErrorBoxText(""), "");
}

}  // namespace
}  // namespace qyr
