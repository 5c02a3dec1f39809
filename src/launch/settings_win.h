#pragma once
// The settings file beside the executable, read and written one key at a time through the
// Windows profile API.
#include <string>
#include <string_view>

#include "launch/slots.h"

namespace qyr {

// All four slots; a missing file or key gives the defaults. Nothing is created by reading.
SlotArray ReadSlots(const std::string& ini_path, std::string_view exe_folder);

// Writes File0, Delay0 .. File3, Delay3 in order; raises IniFileError("Unable to write to
// <path>") at the first write the system refuses (the keys before it stay written).
void WriteSlots(const std::string& ini_path, const SlotArray& slots);

// The optional [REMOTE] section: who may send commands and whether they are logged. Read once
// at start; the window never writes it.
struct RemoteSettings {
  std::string allow_from;  // as written; a value too long to read whole comes back unusable
  bool log = false;        // Log= a non-zero integer
};
RemoteSettings ReadRemoteSettings(const std::string& ini_path);

}  // namespace qyr
