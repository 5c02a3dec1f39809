#include "remote/power_win.h"

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

bool EnableShutdownPrivilege() {
  bool ok = false;
  HANDLE raw_token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw_token)) {
    KernelHandle token(raw_token);
    TOKEN_PRIVILEGES wanted = {};
    if (LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &wanted.Privileges[0].Luid)) {
      wanted.PrivilegeCount = 1;
      wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      TOKEN_PRIVILEGES previous = {};
      DWORD previous_size = 0;
      // A privilege the token does not hold still counts as success of the call itself.
      ok = AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof(previous), &previous,
                                 &previous_size) != 0;
    }
  }
  return ok;
}

bool RequestPowerAction(PowerRequest request) {
  return ExitWindowsEx(static_cast<UINT>(request), 0) != FALSE;
}

}  // namespace qyr
