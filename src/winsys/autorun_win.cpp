#include "winsys/autorun_win.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/wide_win.h"
#include "winsys/registry_key_win.h"

#include <shellapi.h>

namespace qyr {

namespace {

// The running executable, absolute and normalised, exactly as it is to be started at logon.
std::string AbsoluteExePath() {
  const std::wstring module = Utf8ToWide(ModulePathUtf8());
  const DWORD n = GetFullPathNameW(module.c_str(), 0, nullptr, nullptr);
  if (n == 0) return WideToUtf8(module);
  std::vector<wchar_t> full(n);
  const DWORD got = GetFullPathNameW(module.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return WideToUtf8(module);
  return WideToUtf8(std::wstring_view(full.data(), got));
}

// Whether two paths name the same file: Windows paths have no letter case, and the system's
// own case table (the file system's) decides, for every script, not just A to Z.
bool SamePath(const std::string& a, const std::string& b) {
  const std::wstring wa = Utf8ToWide(a);
  const std::wstring wb = Utf8ToWide(b);
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                              static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool SetAutoRun(std::string_view name, bool enable) noexcept {
  try {
    if (!enable) {
      // Nothing to delete, no key or no rights: the value is not there for us either way.
      RegistryKey::Open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_SET_VALUE).DeleteValue(name);
      return true;
    }
    // Already registered (by the installer, or by an earlier Save): done, and seeing that
    // needs no write rights, which a standard user does not have.
    const std::string exe = AbsoluteExePath();
    const std::optional<std::string> stored =
        RegistryKey::Open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_QUERY_VALUE).GetString(name);
    if (stored && SamePath(*stored, exe)) return true;
    // No quotes even when the path holds blanks: the Run key takes the path as it stands.
    RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_SET_VALUE);
    return key && key.SetString(name, exe) == ERROR_SUCCESS;
  } catch (const std::exception&) {
    return false;  // only an out-of-memory can get here; it is a failed write all the same
  }
}

void OpenUserStartupFolder(HWND owner) {
  // Nothing to report if the shell cannot open it; the user sees no folder and can retry.
  ShellExecuteW(owner, L"open", L"shell:startup", nullptr, nullptr, SW_SHOWNOACTIVATE);
}

}  // namespace qyr
