#include "winsys/registry_key_win.h"

#include <string>

#include "base/wide_win.h"

namespace qyr {

RegistryKey RegistryKey::Open(HKEY root, std::string_view path, REGSAM access) {
  RegistryKey key;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, Utf8ToWide(path).c_str(), 0, access, &opened) == ERROR_SUCCESS) {
    key.key_.reset(opened);
  }
  return key;
}

LSTATUS RegistryKey::SetString(std::string_view name, std::string_view value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  const std::wstring data = Utf8ToWide(value);
  // The terminating zero is part of the stored data.
  return RegSetValueExW(key_.get(), Utf8ToWide(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RegistryKey::SetDword(std::string_view name, DWORD value) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key_.get(), Utf8ToWide(name).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LSTATUS RegistryKey::DeleteValue(std::string_view name) {
  if (!key_) return ERROR_INVALID_HANDLE;
  return RegDeleteValueW(key_.get(), Utf8ToWide(name).c_str());
}

}  // namespace qyr
