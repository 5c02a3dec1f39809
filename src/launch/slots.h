#pragma once
// The four launch slots, their keys and defaults in the settings file, and which rows of the
// window show them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qyr {

struct LaunchSlot {
  std::string Path;        // program or document, taken verbatim
  std::int32_t Delay = 0;  // the tick counter value at which it is started
};

inline constexpr int kSlotCount = 4;
using SlotArray = std::array<LaunchSlot, kSlotCount>;

inline constexpr const char* kSettingsSection = "AUTORUN";
inline constexpr const char* kRemoteSection = "REMOTE";
inline constexpr const char* kPowerSection = "POWER";  // OffAt, RebootAt, Days
inline constexpr std::size_t kProfileValueMax = 2047;  // characters; the read buffer holds 2048

std::string FileKey(int slot);   // "File0".."File3"
std::string DelayKey(int slot);  // "Delay0".."Delay3"

// Defaults when a key or the whole file is missing. exe_folder ends with a backslash.
std::string DefaultPath(int slot, std::string_view exe_folder);
std::int32_t DefaultDelay(int slot);

// One slot from the two texts read from the file: the path as read (the default path already
// stands in for a missing key), the delay as text (empty for a missing key).
LaunchSlot SlotFromProfile(int slot, std::string_view file, std::string_view delay);

// A slot is written into its row only when its path is longer than 2 characters.
bool ShownInRow(const LaunchSlot& slot);

struct RowText {
  std::string file;
  std::string delay;
};

// A path or delay that still holds a control character (below 0x20, or 0x7F) once trimmed
// cannot be saved: in the settings file a line break would start lines of its own. The message
// names the first such box; nothing when every row can be saved.
std::optional<std::string> ControlCharacterMessage(const std::array<RowText, kSlotCount>& rows);

// Takes the four rows into the slots in order, trimming both texts and reading the delay
// strictly. On a delay that is not an integer it stops there and returns the error message;
// the rows before it and that row's path have been taken already.
std::optional<std::string> TakeRows(SlotArray& slots, const std::array<RowText, kSlotCount>& rows);

// The message of the error raised when the settings file refuses a write.
std::string UnableToWriteMessage(std::string_view ini_path);

// Decimal text of a delay as it is written to the file.
std::string DelayText(std::int32_t delay);

// D:\Show\QyrDelay.exe -> D:\Show\QyrDelay.ini ; the folder with its trailing backslash.
std::string SettingsPathFor(std::string_view exe_path);
// The same with another extension: D:\Show\QyrDelay.exe, ".log" -> D:\Show\QyrDelay.log
std::string SiblingPath(std::string_view exe_path, std::string_view extension);
std::string FolderOf(std::string_view exe_path);

}  // namespace qyr
