#pragma once
// The settings file beside the executable: values read one key at a time through the Windows
// profile API, sections checked and a Save written over the whole file.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "launch/ini_text.h"
#include "launch/keep_running.h"
#include "launch/slots.h"

namespace qyr {

// Sets File0, Delay0 .. File3, Delay3 as the profile API would, in a complete new file beside
// the old one that then takes its place in one step: a full disk or a power cut leaves the old
// file or the new one, never a mix. False when the file cannot be read or replaced; the old file
// then stays as it was, and the caller tells the user (UnableToWriteMessage).
[[nodiscard]] bool WriteSlots(const std::string& ini_path, const SlotArray& slots);

// The optional [REMOTE] section: who may send commands and whether they are logged. Read once
// at start; the window never writes it.
struct RemoteSettings {
  std::string allow_from;  // as written; a value too long to read whole comes back unusable
  bool log = false;        // Log= a non-zero integer
  bool udp = true;         // Udp=0 closes the UDP listener (so does anything but a number)
  std::string signed_by;   // the hall's public key: power commands must then be signed
  std::optional<IniRepeat> repeat;  // a key or the section given twice: remote control stays off
};

// The optional [POWER] section as written (a missing key reads as blank): power by the clock.
struct PowerSettings {
  std::string off_at;
  std::string reboot_at;
  std::string days;
  std::optional<IniRepeat> repeat;  // a key or the section given twice: the clock stays off
};

// What the launcher takes from [AUTORUN]: the four slots, and Restart0..Restart3, whether and
// when each slot's program is started again (the window's Save leaves those as they are).
struct LaunchSettings {
  SlotArray slots;
  std::array<RestartSetting, kSlotCount> restarts;
};

// The whole settings file as the program reads it, once, at start: each part is handed its
// section. A missing file or key gives the defaults (`exe_folder` gives the slots' default
// paths); nothing is created by reading.
struct Settings {
  LaunchSettings launch;
  RemoteSettings remote;
  PowerSettings power;
};
Settings ReadSettings(const std::string& ini_path, std::string_view exe_folder);

}  // namespace qyr
