#include "launch/settings_win.h"

#include <cstring>
#include <utility>
#include <vector>

#include <windows.h>

#include "base/handles_win.h"
#include "base/int_rules.h"
#include "base/text.h"
#include "base/wide_win.h"

namespace qyr {

namespace {

// More than any settings file holds; a larger one is not read into memory, nor saved over.
constexpr LONGLONG kIniFileMaxBytes = 16 * 1024 * 1024;
constexpr std::string_view kUtf16Bom = "\xFF\xFE";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The file as the profile API keeps it: in the ANSI code page, or UTF-8 or UTF-16 after a
// byte-order mark. `text` is ANSI bytes or UTF-8, so that the text rules see single bytes.
struct IniFile {
  enum class Encoding { kAnsi, kUtf8, kUtf16 } encoding = Encoding::kAnsi;
  std::string text;
};

// A missing file reads as an empty one.
bool ReadIniFile(const std::string& path, IniFile& file) {
  UniqueFile handle(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(handle.get(), &size) || size.QuadPart > kIniFileMaxBytes) return false;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() &&
      (!ReadFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
       got != bytes.size())) {
    return false;
  }
  const std::string_view view(bytes);
  if (view.starts_with(kUtf16Bom)) {
    std::wstring wide((bytes.size() - kUtf16Bom.size()) / 2, L'\0');
    std::memcpy(wide.data(), bytes.data() + kUtf16Bom.size(), wide.size() * sizeof(wchar_t));
    file = {IniFile::Encoding::kUtf16, WideToUtf8(wide)};
  } else if (view.starts_with(kUtf8Bom)) {
    file = {IniFile::Encoding::kUtf8, bytes.substr(kUtf8Bom.size())};
  } else {
    file = {IniFile::Encoding::kAnsi, std::move(bytes)};
  }
  return true;
}

// A value written into the file's text, as the profile API converts it.
std::string InFileEncoding(const IniFile& file, std::string_view utf8) {
  if (file.encoding != IniFile::Encoding::kAnsi) return std::string(utf8);
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string FileBytes(const IniFile& file) {
  switch (file.encoding) {
    case IniFile::Encoding::kAnsi:
      break;
    case IniFile::Encoding::kUtf8:
      return std::string(kUtf8Bom) + file.text;
    case IniFile::Encoding::kUtf16: {
      const std::wstring wide = Utf8ToWide(file.text);
      return std::string(kUtf16Bom) +
             std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    }
  }
  return file.text;
}

// Writes `bytes` into a new file beside `path`, flushes it to the disk and puts it in place of
// the old one. On failure the old file is as it was and the new one is gone.
bool ReplaceWhole(const std::string& path, std::string_view bytes) {
  const std::wstring target = Utf8ToWide(path);
  const std::wstring fresh = target + L".tmp";
  bool done = false;
  {
    UniqueFile file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD put = 0;
    done = (bytes.empty() ||
            (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
             put == bytes.size())) &&
           FlushFileBuffers(file.get());
  }
  constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (done && GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    // The old file's rights and attributes go to the new one: the installer's rights on it stay.
    done = ReplaceFileW(target.c_str(), fresh.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr) ||
           // The old file is gone already and the new one whole: it only has to be moved.
           (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
            MoveFileExW(fresh.c_str(), target.c_str(), kMoveFlags));
  } else if (done) {
    done = MoveFileExW(fresh.c_str(), target.c_str(), kMoveFlags);
  }
  if (!done) DeleteFileW(fresh.c_str());
  return done;
}

// A section read from the whole file; a file that cannot be read is left to the profile API.
std::optional<IniRepeat> RepeatIn(const std::string& ini_path, std::string_view section) {
  IniFile file;
  if (!ReadIniFile(ini_path, file)) return std::nullopt;
  return FindRepeat(file.text, section);
}

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

// All four slots; a missing file or key gives the defaults.
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
  settings.repeat = RepeatIn(ini_path, kRemoteSection);
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
          ReadProfileValue(file, kPowerSection, "Days", "", kValueMax),
          RepeatIn(ini_path, kPowerSection)};
}

}  // namespace

Settings ReadSettings(const std::string& ini_path, std::string_view exe_folder) {
  return {{ReadSlots(ini_path, exe_folder), ReadRestartSettings(ini_path)},
          ReadRemoteSettings(ini_path),
          ReadPowerSettings(ini_path)};
}

bool WriteSlots(const std::string& ini_path, const SlotArray& slots) {
  IniFile file;
  if (!ReadIniFile(ini_path, file)) return false;
  std::vector<IniValue> values;
  for (int i = 0; i < kSlotCount; ++i) {
    const LaunchSlot& slot = slots[static_cast<std::size_t>(i)];
    values.push_back({FileKey(i), InFileEncoding(file, slot.Path)});
    values.push_back({DelayKey(i), DelayText(slot.Delay)});
  }
  file.text = SetIniValues(file.text, kSettingsSection, values);
  return ReplaceWhole(ini_path, FileBytes(file));
}

}  // namespace qyr
