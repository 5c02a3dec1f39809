#include "winsys/player_preset_win.h"

#include <string>

#include "base/errors.h"
#include "winsys/registry_key_win.h"

namespace qyr {

void PresetPlayerDisplay() {
  RegistryKey key = RegistryKey::Open(HKEY_CURRENT_USER, kPlayerKeyPath, KEY_ALL_ACCESS);
  if (!key) return;
  if (key.SetDword(kPlayerFullscreenValue, 1) != ERROR_SUCCESS) {
    throw RegistryError(std::string("Failed to set data for '") + kPlayerFullscreenValue + "'");
  }
  // A value that is not there is what we want; a refused delete leaves the player as it was.
  key.DeleteValue(kPlayerHeightValue);
  key.DeleteValue(kPlayerWidthValue);
}

}  // namespace qyr
