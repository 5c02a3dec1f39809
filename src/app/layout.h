#pragma once
// The main window's layout: one row per control, in creation (stacking) order, with places at
// 96 dots per inch, captions, looks, anchors, tab order and events. The Win32 side creates,
// paints, moves and dispatches the controls from this table alone.
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
  friend constexpr bool operator==(const Rect96&, const Rect96&) = default;
};

// The colours the window uses: system colours by role, and two fixed ones.
enum class Colour : std::uint8_t {
  kWindowText,
  kBtnFace,
  kScrollBar,
  kBackground,  // the desktop colour
  kHighlight,   // the selection colour
  kGreen,
  kBlue,
  kBlack,
};
inline constexpr std::uint32_t kGreenRgb = 0x008000;  // 0xBBGGRR: red 0, green 128, blue 0
inline constexpr std::uint32_t kBlueRgb = 0xFF0000;   // red 0, green 0, blue 255

// kMiddle: one line, centred both ways.
enum class Align : std::uint8_t { kLeft, kCenter, kMiddle };
enum class Cursor : std::uint8_t { kArrow, kHand };

struct FontSpec {
  std::string_view face;
  int height;  // character height in pixels at 96 dpi
  friend constexpr bool operator==(const FontSpec&, const FontSpec&) = default;
};

struct Look {
  FontSpec font;
  Colour text;
  Colour back;
  Align align;
  Cursor cursor;
};

// How a control follows the window when it is resized.
enum class Anchor : std::uint8_t {
  kTopLeft,          // stays where it is
  kBottom,           // same distance from the bottom, centre at the same fraction of the width
  kBottomFullWidth,  // along the bottom edge, as wide as the window
};

// The handler a control's event runs; LabelUptimeDblClick is a double click, the rest clicks.
enum class Event : std::uint8_t {
  kNone,
  BitBtn1Click,
  BitBtn2Click,
  BitBtn3Click,
  BitBtn4Click,
  BitBtn5Click,
  BitBtn6Click,
  Label13Click,
  LabelUptimeDblClick,
  ButtonUserSetAutoRUNClick,
  LabelStatusClick,
  Label1Click,
  Label1TipsClick,
};

inline constexpr int kNoTab = -1;

struct ControlSpec {
  ControlId id;
  std::string_view name;
  ControlKind kind;
  Rect96 place;
  std::string_view caption;
  Look look;
  bool visible;
  bool enabled;
  Anchor anchor;
  int tab;  // position in the keyboard order, kNoTab for controls outside it
  Event event;
};

inline constexpr Rect96 kClientSize96 = {0, 0, 497, 267};
inline constexpr Rect96 kWindowSize96 = {0, 0, 513, 306};
inline constexpr FontSpec kFormFont = {"MS Sans Serif", 11};

// The looks of the table. The window's own font and colours unless a control says otherwise.
inline constexpr Look kPlain = {kFormFont, Colour::kWindowText, Colour::kBtnFace, Align::kLeft,
                                Cursor::kArrow};
inline constexpr Look kCentred = {kFormFont, Colour::kWindowText, Colour::kBtnFace,
                                  Align::kCenter, Cursor::kArrow};
inline constexpr Look kGreenText = {kFormFont, Colour::kGreen, Colour::kBtnFace, Align::kLeft,
                                    Cursor::kArrow};
inline constexpr Look kLink = {kFormFont, Colour::kBlue, Colour::kBtnFace, Align::kLeft,
                               Cursor::kHand};
inline constexpr Look kTitle = {{"宋体", 24}, Colour::kGreen, Colour::kBtnFace, Align::kLeft,
                                Cursor::kArrow};
inline constexpr Look kUptime = {{"MS Sans Serif", 33}, Colour::kScrollBar, Colour::kGreen,
                                 Align::kCenter, Cursor::kArrow};
inline constexpr Look kPowerPanel = {kFormFont, Colour::kWindowText, Colour::kBackground,
                                     Align::kLeft, Cursor::kArrow};
inline constexpr Look kPowerTitle = {
    {"宋体", 40}, Colour::kHighlight, Colour::kBackground, Align::kMiddle, Cursor::kArrow};
inline constexpr Look kPowerTips = {
    {"黑体", 67}, Colour::kGreen, Colour::kBlack, Align::kMiddle, Cursor::kArrow};

// clang-format off
inline constexpr std::array<ControlSpec, kControlCount> kLayout = {{
  // id, name, kind, place, caption, look, visible, enabled, anchor, tab, event
  {ControlId::LabelUptime, "LabelUptime", ControlKind::kLabel, {24, 200, 73, 33}, "0", kUptime, true, true, Anchor::kTopLeft, kNoTab, Event::LabelUptimeDblClick},
  {ControlId::LabelStatus, "LabelStatus", ControlKind::kLabel, {0, 248, 497, 19}, "延时启动正在运行....", kGreenText, true, false, Anchor::kBottomFullWidth, kNoTab, Event::LabelStatusClick},
  {ControlId::Label1, "Label1", ControlKind::kLabel, {11, 53, 57, 17}, "程序1:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::Label1Click},
  {ControlId::Label5, "Label5", ControlKind::kLabel, {333, 54, 44, 17}, "延时:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label6, "Label6", ControlKind::kLabel, {422, 54, 39, 17}, "秒", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label2, "Label2", ControlKind::kLabel, {11, 85, 57, 17}, "程序2:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label3, "Label3", ControlKind::kLabel, {333, 86, 44, 17}, "延时:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label4, "Label4", ControlKind::kLabel, {422, 86, 39, 17}, "秒", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label7, "Label7", ControlKind::kLabel, {11, 116, 57, 17}, "程序3:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label8, "Label8", ControlKind::kLabel, {333, 117, 44, 17}, "延时:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label9, "Label9", ControlKind::kLabel, {422, 117, 39, 17}, "秒", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label10, "Label10", ControlKind::kLabel, {11, 148, 57, 17}, "程序4:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label11, "Label11", ControlKind::kLabel, {333, 149, 44, 17}, "延时:", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label12, "Label12", ControlKind::kLabel, {422, 149, 39, 17}, "秒", kCentred, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label13, "Label13", ControlKind::kLabel, {432, 8, 44, 17}, "?帮助", kLink, true, true, Anchor::kTopLeft, kNoTab, Event::Label13Click},
  {ControlId::Bevel1, "Bevel1", ControlKind::kBevel, {0, 24, 481, 9}, "", kPlain, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Bevel2, "Bevel2", ControlKind::kBevel, {1, 179, 481, 9}, "", kPlain, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::Label14, "Label14", ControlKind::kLabel, {14, 3, 179, 25}, "程序延时启动器", kTitle, true, false, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::LabelTCP, "LabelTCP", ControlKind::kLabel, {248, 7, 161, 17}, "", kGreenText, true, true, Anchor::kTopLeft, kNoTab, Event::kNone},
  {ControlId::PanelPowerOFFTips, "PanelPowerOFFTips", ControlKind::kPanel, {456, 152, 1433, 713}, "", kPowerPanel, false, true, Anchor::kTopLeft, 16, Event::kNone},
  {ControlId::BitBtn1, "BitBtn1", ControlKind::kButton, {374, 194, 105, 44}, "保存修改(&OK)", kPlain, true, true, Anchor::kBottom, 0, Event::BitBtn1Click},
  {ControlId::BitBtn2, "BitBtn2", ControlKind::kButton, {264, 194, 97, 44}, "取消(&C)", kPlain, true, true, Anchor::kBottom, 1, Event::BitBtn2Click},
  {ControlId::EditFile1, "EditFile1", ControlKind::kEdit, {72, 51, 217, 21}, "QyrPlayer_V3.exe", kPlain, true, true, Anchor::kTopLeft, 2, Event::kNone},
  {ControlId::BitBtn3, "BitBtn3", ControlKind::kButton, {295, 48, 35, 25}, "---", kPlain, true, true, Anchor::kTopLeft, 3, Event::BitBtn3Click},
  {ControlId::EditDelay1, "EditDelay1", ControlKind::kEdit, {378, 51, 41, 21}, "10", kPlain, true, true, Anchor::kTopLeft, 4, Event::kNone},
  {ControlId::EditFile2, "EditFile2", ControlKind::kEdit, {72, 83, 217, 21}, "", kPlain, true, true, Anchor::kTopLeft, 5, Event::kNone},
  {ControlId::BitBtn4, "BitBtn4", ControlKind::kButton, {295, 80, 35, 25}, "---", kPlain, true, true, Anchor::kTopLeft, 6, Event::BitBtn4Click},
  {ControlId::EditDelay2, "EditDelay2", ControlKind::kEdit, {378, 83, 41, 21}, "15", kPlain, true, true, Anchor::kTopLeft, 7, Event::kNone},
  {ControlId::EditFile3, "EditFile3", ControlKind::kEdit, {72, 114, 217, 21}, "", kPlain, true, true, Anchor::kTopLeft, 8, Event::kNone},
  {ControlId::BitBtn5, "BitBtn5", ControlKind::kButton, {295, 111, 35, 25}, "---", kPlain, true, true, Anchor::kTopLeft, 9, Event::BitBtn5Click},
  {ControlId::EditDelay3, "EditDelay3", ControlKind::kEdit, {378, 114, 41, 21}, "18", kPlain, true, true, Anchor::kTopLeft, 10, Event::kNone},
  {ControlId::EditFile4, "EditFile4", ControlKind::kEdit, {72, 146, 217, 21}, "", kPlain, true, true, Anchor::kTopLeft, 11, Event::kNone},
  {ControlId::BitBtn6, "BitBtn6", ControlKind::kButton, {295, 143, 35, 25}, "---", kPlain, true, true, Anchor::kTopLeft, 12, Event::BitBtn6Click},
  {ControlId::EditDelay4, "EditDelay4", ControlKind::kEdit, {378, 146, 41, 21}, "20", kPlain, true, true, Anchor::kTopLeft, 13, Event::kNone},
  {ControlId::CheckBoxAutoRun, "CheckBoxAutoRun", ControlKind::kCheckBox, {129, 205, 105, 25}, "开机自启动", kPlain, true, true, Anchor::kTopLeft, 14, Event::kNone},
  {ControlId::ButtonUserSetAutoRUN, "ButtonUserSetAutoRUN", ControlKind::kButton, {112, 195, 129, 41}, "手动设置自启动", kPlain, false, true, Anchor::kTopLeft, 15, Event::ButtonUserSetAutoRUNClick},
}};
// clang-format on

// The child-window id of a control (what WM_COMMAND carries and GetDlgItem finds).
inline constexpr int kFirstControlWindowId = 100;
constexpr int ControlWindowId(ControlId id) { return kFirstControlWindowId + static_cast<int>(id); }

constexpr const ControlSpec& RowOf(ControlId id) { return kLayout[static_cast<std::size_t>(id)]; }

// The shutdown screen: the two labels inside PanelPowerOFFTips, stacked from the panel's top.
// They are children of the panel, so they are not in the window's own table.
enum class PanelLabelId : std::uint8_t { Label15, Label1Tips, kCount };

enum class Dock : std::uint8_t {
  kTop,   // a strip along the top, full width
  kFill,  // whatever the strips above leave
};

struct PanelLabelSpec {
  PanelLabelId id;
  std::string_view name;
  Dock dock;
  int height;  // of a kTop strip, at 96 dpi
  std::string_view caption;
  Look look;
  Event event;
};

// The panel's raised bevel, inside which its labels lie.
inline constexpr int kPanelBevel = 1;

// clang-format off
inline constexpr std::array<PanelLabelSpec, static_cast<std::size_t>(PanelLabelId::kCount)> kPanelLayout = {{
  // id, name, dock, height, caption, look, event
  {PanelLabelId::Label15, "Label15", Dock::kTop, 121, "奎尔诺(QyrNOR)控制系统", kPowerTitle, Event::Label1TipsClick},
  {PanelLabelId::Label1Tips, "Label1Tips", Dock::kFill, 0, "系统关机中...", kPowerTips, Event::Label1TipsClick},
}};
// clang-format on

inline constexpr int kFirstPanelLabelWindowId = 200;
constexpr int PanelLabelWindowId(PanelLabelId id) {
  return kFirstPanelLabelWindowId + static_cast<int>(id);
}
constexpr const PanelLabelSpec& PanelSpec(PanelLabelId id) {
  return kPanelLayout[static_cast<std::size_t>(id)];
}

// The slot rows' boxes, row 0 to 3.
inline constexpr std::array<ControlId, 4> kFileBoxes = {ControlId::EditFile1, ControlId::EditFile2,
                                                        ControlId::EditFile3, ControlId::EditFile4};
inline constexpr std::array<ControlId, 4> kDelayBoxes = {
    ControlId::EditDelay1, ControlId::EditDelay2, ControlId::EditDelay3, ControlId::EditDelay4};

// The controls of the keyboard order, first to last.
std::array<ControlId, 17> TabOrder();

// Scales a 96-dpi length to the system's dots per inch, rounding as the layout is scaled.
int ScaleToDpi(int value, int dpi);
Rect96 ScaleToDpi(const Rect96& place, int dpi);

// Where a control goes when the client area changes from `initial` (the size it was created
// with, both in the same pixels as `place`) to `now`.
Rect96 AnchoredPlace(Anchor anchor, const Rect96& place, const Rect96& initial, const Rect96& now);

// The shutdown panel once it is aligned: the whole client area above the status line.
Rect96 PowerPanelPlace(const Rect96& client, const Rect96& status);

// Each panel label's place inside a panel of `panel` size (pixels at `dpi`), in table order. A
// strip keeps its height even when the panel is too short for it; the fill then gets nothing.
std::array<Rect96, kPanelLayout.size()> PanelLabelPlaces(const Rect96& panel, int dpi);

}  // namespace qyr
