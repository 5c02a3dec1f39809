#include "launch/slots.h"

#include "base/int_rules.h"
#include "base/text.h"

namespace qyr {

std::string FileKey(int slot) { return "File" + std::to_string(slot); }
std::string DelayKey(int slot) { return "Delay" + std::to_string(slot); }

std::string DefaultPath(int slot, std::string_view exe_folder) {
  return slot == 0 ? std::string(exe_folder) + "QyrPlayer_V3.exe" : std::string();
}

std::int32_t DefaultDelay(int slot) {
  static constexpr std::array<std::int32_t, kSlotCount> kDelays = {10, 15, 20, 25};
  return kDelays.at(static_cast<std::size_t>(slot));
}

LaunchSlot SlotFromProfile(int slot, std::string_view file, std::string_view delay) {
  LaunchSlot s;
  s.Path = std::string(FirstChars(file, kProfileValueMax));
  s.Delay = IntegerOr(delay, DefaultDelay(slot));
  return s;
}

bool ShownInRow(const LaunchSlot& slot) { return CharCount(slot.Path) > 2; }

std::optional<std::string> ControlCharacterMessage(const std::array<RowText, kSlotCount>& rows) {
  auto has_control = [](std::string_view text) {
    for (const char c : TrimBlanks(text)) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const char* box = has_control(rows[i].file)    ? "路径"
                      : has_control(rows[i].delay) ? "延时"
                                                   : nullptr;
    if (box != nullptr) {
      return "程序" + std::to_string(i + 1) + "的" + box + "含有控制字符(如回车、换行),不能保存";
    }
  }
  return std::nullopt;
}

std::optional<std::string> TakeRows(SlotArray& slots, const std::array<RowText, kSlotCount>& rows) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    slots[i].Path = std::string(TrimBlanks(rows[i].file));
    const std::string_view delay = TrimBlanks(rows[i].delay);
    const IntParse parsed = ParseInteger(delay);
    if (!parsed.ok()) return InvalidIntegerMessage(delay);
    slots[i].Delay = parsed.value;
  }
  return std::nullopt;
}

std::string UnableToWriteMessage(std::string_view ini_path) {
  return "Unable to write to " + std::string(ini_path);
}

std::string DelayText(std::int32_t delay) { return std::to_string(delay); }

namespace {

// Position just after the last folder separator or drive colon.
std::size_t NameStart(std::string_view path) {
  const std::size_t sep = path.find_last_of("\\/:");
  return sep == std::string_view::npos ? 0 : sep + 1;
}

}  // namespace

std::string SettingsPathFor(std::string_view exe_path) { return SiblingPath(exe_path, ".ini"); }

std::string SiblingPath(std::string_view exe_path, std::string_view extension) {
  const std::size_t name = NameStart(exe_path);
  const std::size_t dot = exe_path.rfind('.');
  const std::string_view stem =
      (dot != std::string_view::npos && dot >= name) ? exe_path.substr(0, dot) : exe_path;
  return std::string(stem) + std::string(extension);
}

std::string FolderOf(std::string_view exe_path) {
  return std::string(exe_path.substr(0, NameStart(exe_path)));
}

}  // namespace qyr
