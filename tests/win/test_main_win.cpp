// Entry of the test programs that run under Wine. Once the results are printed the process
// ends at once: under load Wine now and then hangs in the cleanup of a normal process exit,
// long after every test has passed.
#include <cstdio>

#include <windows.h>

#include "app/app_win.h"
#include "base/window_base_win.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // As the program does, with the failing window as the owner of the box.
  qyr::SetWindowErrorSink(&qyr::ShowErrorBox);
  const int result = RUN_ALL_TESTS();
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
  return result;
}
