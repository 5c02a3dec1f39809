#pragma once
// An open registry key, closed when it goes out of scope. Opening never creates a key.
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

#include "base/handles_win.h"

namespace qyr {

struct RegistryKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};

class RegistryKey {
 public:
  // Opens an existing key; the result is empty (false) when it did not open.
  static RegistryKey Open(HKEY root, std::string_view path, REGSAM access);

  explicit operator bool() const { return static_cast<bool>(key_); }
  HKEY get() const { return key_.get(); }

  // A REG_SZ value as it is stored, without its terminating zero; empty when missing, of
  // another type or unreadable.
  std::optional<std::string> GetString(std::string_view name) const;

  // Each returns the system's result (ERROR_SUCCESS when done).
  LSTATUS SetString(std::string_view name, std::string_view value);
  LSTATUS SetDword(std::string_view name, DWORD value);
  LSTATUS DeleteValue(std::string_view name);

 private:
  UniqueHandle<HKEY, RegistryKeyTraits> key_;
};

}  // namespace qyr
