#pragma once
// The main window's layout: one row per control, in creation (stacking) order, with places at
// 96 dots per inch. The Win32 side creates the controls from this table alone.
#include <array>
#include <cstdint>
#include <string_view>

namespace qyr {

enum class ControlKind : std::uint8_t { kLabel, kEdit, kButton, kCheckBox, kBevel, kPanel };

// Every control of the window; the order is the creation order.
enum class ControlId : std::uint8_t {
  LabelUptime,
  LabelStatus,
  Label1, Label5, Label6,
  Label2, Label3, Label4,
  Label7, Label8, Label9,
  Label10, Label11, Label12,
  Label13,
  Bevel1,
  Bevel2,
  Label14,
  LabelTCP,
  PanelPowerOFFTips,
  BitBtn1,
  BitBtn2,
  EditFile1, BitBtn3, EditDelay1,
  EditFile2, BitBtn4, EditDelay2,
  EditFile3, BitBtn5, EditDelay3,
  EditFile4, BitBtn6, EditDelay4,
  CheckBoxAutoRun,
  ButtonUserSetAutoRUN,
  kCount
};

inline constexpr std::size_t kControlCount = static_cast<std::size_t>(ControlId::kCount);

struct Rect96 {
  int left, top, width, height;
};

struct ControlSpec {
  ControlId id;
  std::string_view name;
  ControlKind kind;
  Rect96 place;
  std::string_view caption;
  bool visible;
  bool enabled;
};

inline constexpr Rect96 kClientSize96 = {0, 0, 497, 267};
inline constexpr Rect96 kWindowSize96 = {0, 0, 513, 306};

// clang-format off
inline constexpr std::array<ControlSpec, kControlCount> kLayout = {{
  {ControlId::LabelUptime, "LabelUptime", ControlKind::kLabel, {24, 200, 73, 33}, "0", true, true},
  {ControlId::LabelStatus, "LabelStatus", ControlKind::kLabel, {0, 248, 497, 19}, "延时启动正在运行....", true, false},
  {ControlId::Label1, "Label1", ControlKind::kLabel, {11, 53, 57, 17}, "程序1:", true, true},
  {ControlId::Label5, "Label5", ControlKind::kLabel, {333, 54, 44, 17}, "延时:", true, true},
  {ControlId::Label6, "Label6", ControlKind::kLabel, {422, 54, 39, 17}, "秒", true, true},
  {ControlId::Label2, "Label2", ControlKind::kLabel, {11, 85, 57, 17}, "程序2:", true, true},
  {ControlId::Label3, "Label3", ControlKind::kLabel, {333, 86, 44, 17}, "延时:", true, true},
  {ControlId::Label4, "Label4", ControlKind::kLabel, {422, 86, 39, 17}, "秒", true, true},
  {ControlId::Label7, "Label7", ControlKind::kLabel, {11, 116, 57, 17}, "程序3:", true, true},
  {ControlId::Label8, "Label8", ControlKind::kLabel, {333, 117, 44, 17}, "延时:", true, true},
  {ControlId::Label9, "Label9", ControlKind::kLabel, {422, 117, 39, 17}, "秒", true, true},
  {ControlId::Label10, "Label10", ControlKind::kLabel, {11, 148, 57, 17}, "程序4:", true, true},
  {ControlId::Label11, "Label11", ControlKind::kLabel, {333, 149, 44, 17}, "延时:", true, true},
  {ControlId::Label12, "Label12", ControlKind::kLabel, {422, 149, 39, 17}, "秒", true, true},
  {ControlId::Label13, "Label13", ControlKind::kLabel, {432, 8, 44, 17}, "?帮助", true, true},
  {ControlId::Bevel1, "Bevel1", ControlKind::kBevel, {0, 24, 481, 9}, "", true, true},
  {ControlId::Bevel2, "Bevel2", ControlKind::kBevel, {1, 179, 481, 9}, "", true, true},
  {ControlId::Label14, "Label14", ControlKind::kLabel, {14, 3, 179, 25}, "程序延时启动器", true, false},
  {ControlId::LabelTCP, "LabelTCP", ControlKind::kLabel, {248, 7, 161, 17}, "", true, true},
  {ControlId::PanelPowerOFFTips, "PanelPowerOFFTips", ControlKind::kPanel, {456, 152, 1433, 713}, "", false, true},
  {ControlId::BitBtn1, "BitBtn1", ControlKind::kButton, {374, 194, 105, 44}, "保存修改(&OK)", true, true},
  {ControlId::BitBtn2, "BitBtn2", ControlKind::kButton, {264, 194, 97, 44}, "取消(&C)", true, true},
  {ControlId::EditFile1, "EditFile1", ControlKind::kEdit, {72, 51, 217, 21}, "QyrPlayer_V3.exe", true, true},
  {ControlId::BitBtn3, "BitBtn3", ControlKind::kButton, {295, 48, 35, 25}, "---", true, true},
  {ControlId::EditDelay1, "EditDelay1", ControlKind::kEdit, {378, 51, 41, 21}, "10", true, true},
  {ControlId::EditFile2, "EditFile2", ControlKind::kEdit, {72, 83, 217, 21}, "", true, true},
  {ControlId::BitBtn4, "BitBtn4", ControlKind::kButton, {295, 80, 35, 25}, "---", true, true},
  {ControlId::EditDelay2, "EditDelay2", ControlKind::kEdit, {378, 83, 41, 21}, "15", true, true},
  {ControlId::EditFile3, "EditFile3", ControlKind::kEdit, {72, 114, 217, 21}, "", true, true},
  {ControlId::BitBtn5, "BitBtn5", ControlKind::kButton, {295, 111, 35, 25}, "---", true, true},
  {ControlId::EditDelay3, "EditDelay3", ControlKind::kEdit, {378, 114, 41, 21}, "18", true, true},
  {ControlId::EditFile4, "EditFile4", ControlKind::kEdit, {72, 146, 217, 21}, "", true, true},
  {ControlId::BitBtn6, "BitBtn6", ControlKind::kButton, {295, 143, 35, 25}, "---", true, true},
  {ControlId::EditDelay4, "EditDelay4", ControlKind::kEdit, {378, 146, 41, 21}, "20", true, true},
  {ControlId::CheckBoxAutoRun, "CheckBoxAutoRun", ControlKind::kCheckBox, {129, 205, 105, 25}, "开机自启动", true, true},
  {ControlId::ButtonUserSetAutoRUN, "ButtonUserSetAutoRUN", ControlKind::kButton, {112, 195, 129, 41}, "手动设置自启动", false, true},
}};
// clang-format on

// The child-window id of a control (what WM_COMMAND carries and GetDlgItem finds).
inline constexpr int kFirstControlWindowId = 100;
constexpr int ControlWindowId(ControlId id) { return kFirstControlWindowId + static_cast<int>(id); }

constexpr const ControlSpec& Spec(ControlId id) { return kLayout[static_cast<std::size_t>(id)]; }

// The slot rows' boxes, row 0 to 3.
inline constexpr std::array<ControlId, 4> kFileBoxes = {ControlId::EditFile1, ControlId::EditFile2,
                                                        ControlId::EditFile3, ControlId::EditFile4};
inline constexpr std::array<ControlId, 4> kDelayBoxes = {
    ControlId::EditDelay1, ControlId::EditDelay2, ControlId::EditDelay3, ControlId::EditDelay4};

// Scales a 96-dpi length to the system's dots per inch, rounding as the layout is scaled.
int ScaleToDpi(int value, int dpi);

}  // namespace qyr
