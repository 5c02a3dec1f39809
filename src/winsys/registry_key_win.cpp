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

std::optional<std::string> RegistryKey::GetString(std::string_view name) const {
  if (!key_) return std::nullopt;
  const std::wstring wide_name = Utf8ToWide(name);
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key_.get(), wide_name.c_str(), nullptr, &type, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key_.get(), wide_name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  // Stored data need not end in a zero, and may end in more than one.
  data.resize(bytes / sizeof(wchar_t));
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  return WideToUtf8(data);
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
