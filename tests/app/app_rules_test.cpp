#include "app/app_rules.h"

#include <gtest/gtest.h>

namespace qyr {
namespace {

TEST(AppRules, TitleNameTestAndGate) {
  struct Case {
    const char* path;
    const char* title;
    bool name_ok;
    bool gate;
  } cases[] = {
      {"D:\\Show\\QyrDelay.exe", "Qyrdelay", true, false},
      {"D:\\QyrNOR\\Launcher.exe", "Launcher", true, true},
      {"D:\\QYRNOR\\QYRDELAY.EXE", "Qyrdelay", true, true},
      {"C:\\Program Files\\Other\\start.exe", "start", false, false},
      {"C:\\a.b\\My.Tool.exe", "My", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AppTitle(c.path), c.title) << c.path;
    EXPECT_EQ(PassesNameTest(c.path), c.name_ok) << c.path;
    EXPECT_EQ(OpensRemoteControl(c.path), c.gate) << c.path;
  }
}

}  // namespace
}  // namespace qyr
