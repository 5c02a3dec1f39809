#pragma once
// The settings file beside the executable, read and written one key at a time through the
// Windows profile API.
#include <array>
#include <string>
#include <string_view>

#include "launch/keep_running.h"
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
  bool udp = true;         // Udp=0 closes the UDP listener (so does anything but a number)
  std::string signed_by;   // the hall's public key: power commands must then be signed
};
RemoteSettings ReadRemoteSettings(const std::string& ini_path);

// Restart0..Restart3 of [AUTORUN]: whether and when each slot's program is started again.
// Read once at start; the window's Save leaves them as they are.
std::array<RestartSetting, kSlotCount> ReadRestartSettings(const std::string& ini_path);

// The optional [POWER] section as written (a missing key reads as blank): power by the clock.
struct PowerSettings {
  std::string off_at;
  std::string reboot_at;
  std::string days;
};
PowerSettings ReadPowerSettings(const std::string& ini_path);

}  // namespace qyr
