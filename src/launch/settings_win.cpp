#include "launch/settings_win.h"

#include <windows.h>

#include "base/errors.h"
#include "base/wide_win.h"

namespace qyr {

namespace {

std::string ReadProfileString(const std::wstring& file, const std::string& key,
                              const std::string& fallback) {
  wchar_t buffer[kProfileValueMax + 1] = {};
  const DWORD n = GetPrivateProfileStringW(Utf8ToWide(kSettingsSection).c_str(),
                                           Utf8ToWide(key).c_str(), Utf8ToWide(fallback).c_str(),
                                           buffer, static_cast<DWORD>(std::size(buffer)),
                                           file.c_str());
  return WideToUtf8(std::wstring_view(buffer, n));
}

void WriteProfileString(const std::wstring& file, const std::string& ini_path,
                        const std::string& key, const std::string& value) {
  if (!WritePrivateProfileStringW(Utf8ToWide(kSettingsSection).c_str(), Utf8ToWide(key).c_str(),
                                  Utf8ToWide(value).c_str(), file.c_str())) {
    throw IniFileError("Unable to write to " + ini_path);
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

void WriteSlots(const std::string& ini_path, const SlotArray& slots) {
  const std::wstring file = Utf8ToWide(ini_path);
  for (int i = 0; i < kSlotCount; ++i) {
    const LaunchSlot& slot = slots[static_cast<std::size_t>(i)];
    WriteProfileString(file, ini_path, FileKey(i), slot.Path);
    WriteProfileString(file, ini_path, DelayKey(i), DelayText(slot.Delay));
  }
}

}  // namespace qyr
