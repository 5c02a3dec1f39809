#include "launch/settings_win.h"

#include <windows.h>

#include "base/errors.h"
#include "base/int_rules.h"
#include "base/text.h"
#include "base/wide_win.h"

namespace qyr {

namespace {

// Reads into a buffer of `size` characters; `full` tells whether the value may have been cut.
std::string ReadProfileValue(const std::wstring& file, const char* section, const std::string& key,
                             const std::string& fallback, std::size_t size, bool* full = nullptr) {
  std::wstring buffer(size, L'\0');
  const DWORD n = GetPrivateProfileStringW(Utf8ToWide(section).c_str(), Utf8ToWide(key).c_str(),
                                           Utf8ToWide(fallback).c_str(), buffer.data(),
                                           static_cast<DWORD>(size), file.c_str());
  if (full != nullptr) *full = n + 1 >= size;
  return WideToUtf8(std::wstring_view(buffer.data(), n));
}

std::string ReadProfileString(const std::wstring& file, const std::string& key,
                              const std::string& fallback) {
  return ReadProfileValue(file, kSettingsSection, key, fallback, kProfileValueMax + 1);
}

void WriteProfileString(const std::wstring& file, const std::string& ini_path,
                        const std::string& key, const std::string& value) {
  if (!WritePrivateProfileStringW(Utf8ToWide(kSettingsSection).c_str(), Utf8ToWide(key).c_str(),
                                  Utf8ToWide(value).c_str(), file.c_str())) {
    throw IniFileError(UnableToWriteMessage(ini_path));
  }
}

}  // namespace

SlotArray ReadSlots(const std::string& ini_path, std::string_view exe_folder) {
  const std::wstring file = Utf8ToWide(ini_path);
  SlotArray slots;
  for (int i = 0; i < kSlotCount; ++i) {
    const std::string path = ReadProfileString(file, FileKey(i), DefaultPath(i, exe_folder));
    const std::string delay = ReadProfileString(file, DelayKey(i), "");
    slots[static_cast<std::size_t>(i)] = SlotFromProfile(i, path, delay);
  }
  return slots;
}

RemoteSettings ReadRemoteSettings(const std::string& ini_path) {
  const std::wstring file = Utf8ToWide(ini_path);
  constexpr std::size_t kAllowFromMax = 32767;  // the most the profile API reads of a value
  RemoteSettings settings;
  bool full = false;
  settings.allow_from =
      ReadProfileValue(file, kRemoteSection, "AllowFrom", "", kAllowFromMax + 1, &full);
  // A cut list could end in a different address ("192.168.1.100" cut to "192.168.1.1"): it is
  // made to fail as a whole instead.
  if (full) settings.allow_from = "(longer than " + std::to_string(kAllowFromMax) + ")";
  settings.log = IntegerOr(ReadProfileValue(file, kRemoteSection, "Log", "", 32), 0) != 0;
  // A value that is not a number closes UDP: a typing error never leaves it open unasked.
  const std::string udp = ReadProfileValue(file, kRemoteSection, "Udp", "", 32);
  settings.udp = TrimBlanks(udp).empty() || IntegerOr(udp, 0) != 0;
  // Longer than any key: one cut on reading stays invalid.
  settings.signed_by = ReadProfileValue(file, kRemoteSection, "SignedBy", "", 512);
  return settings;
}

std::array<RestartSetting, kSlotCount> ReadRestartSettings(const std::string& ini_path) {
  const std::wstring file = Utf8ToWide(ini_path);
  std::array<RestartSetting, kSlotCount> restarts;
  for (int i = 0; i < kSlotCount; ++i) {
    restarts[static_cast<std::size_t>(i)] =
        ParseRestart(ReadProfileString(file, RestartKey(i), ""));
  }
  return restarts;
}

PowerSettings ReadPowerSettings(const std::string& ini_path) {
  const std::wstring file = Utf8ToWide(ini_path);
  constexpr std::size_t kValueMax = 256;  // longer than any valid value: a cut one stays invalid
  return {ReadProfileValue(file, kPowerSection, "OffAt", "", kValueMax),
          ReadProfileValue(file, kPowerSection, "RebootAt", "", kValueMax),
          ReadProfileValue(file, kPowerSection, "Days", "", kValueMax)};
}

void WriteSlots(const std::string& ini_path, const SlotArray& slots) {
  const std::wstring file = Utf8ToWide(ini_path);
  for (int i = 0; i < kSlotCount; ++i) {
    const LaunchSlot& slot = slots[static_cast<std::size_t>(i)];
    WriteProfileString(file, ini_path, FileKey(i), slot.Path);
    WriteProfileString(file, ini_path, DelayKey(i), DelayText(slot.Delay));
  }
}

}  // namespace qyr
