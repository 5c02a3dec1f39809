#pragma once
// The main window's layout: one row per control, in creation (stacking) order, with places at
// 96 dots per inch, captions, looks, anchors and tab order. The Win32 side creates, paints and
// moves the controls from this table alone; which handler a control's click runs is the
// window's own table of events.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace qyr {

enum class ControlKind : std::uint8_t { kLabel, kEdit, kButton, kCheckBox, kBevel, kPanel };

// Every control of the window; the order is the creation order.
enum class ControlId : std::uint8_t {
  kUptimeLabel,
  kStatusLine,
  kSlot1Label,
  kDelay1Label,
  kSeconds1Label,
  kSlot2Label,
  kDelay2Label,
  kSeconds2Label,
  kSlot3Label,
  kDelay3Label,
  kSeconds3Label,
  kSlot4Label,
  kDelay4Label,
  kSeconds4Label,
  kHelpLink,
  kTopRule,
  kBottomRule,
  kTitleLabel,
  kRemotePortLabel,
  kPowerScreen,
  kSaveButton,
  kCancelButton,
  kFile1Edit,
  kPick1Button,
  kDelay1Edit,
  kFile2Edit,
  kPick2Button,
  kDelay2Edit,
  kFile3Edit,
  kPick3Button,
  kDelay3Edit,
  kFile4Edit,
  kPick4Button,
  kDelay4Edit,
  kAutoRunCheck,
  kStartupFolderButton,
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

struct FontChoice {
  std::string_view face;
  int height;  // character height in pixels at 96 dpi
  friend constexpr bool operator==(const FontChoice&, const FontChoice&) = default;
};

inline constexpr FontChoice kFormFont = {"MS Sans Serif", 11};

// The window's own font and colours unless a look says otherwise.
struct Look {
  FontChoice font = kFormFont;
  Colour text = Colour::kWindowText;
  Colour back = Colour::kBtnFace;
  Align align = Align::kLeft;
  Cursor cursor = Cursor::kArrow;
};

// The looks of the table.
inline constexpr Look kPlain = {};
inline constexpr Look kCentred = {.align = Align::kCenter};
inline constexpr Look kGreenText = {.text = Colour::kGreen};
inline constexpr Look kLink = {.text = Colour::kBlue, .cursor = Cursor::kHand};
inline constexpr Look kTitle = {.font = {"宋体", 24}, .text = Colour::kGreen};
inline constexpr Look kUptime = {.font = {"MS Sans Serif", 33},
                                 .text = Colour::kScrollBar,
                                 .back = Colour::kGreen,
                                 .align = Align::kCenter};
inline constexpr Look kPowerPanel = {.back = Colour::kBackground};
inline constexpr Look kPowerTitle = {.font = {"宋体", 40},
                                     .text = Colour::kHighlight,
                                     .back = Colour::kBackground,
                                     .align = Align::kMiddle};
inline constexpr Look kPowerTips = {
    .font = {"黑体", 67}, .text = Colour::kGreen, .back = Colour::kBlack, .align = Align::kMiddle};

// How a control follows the window when it is resized.
enum class Anchor : std::uint8_t {
  kTopLeft,          // stays where it is
  kBottom,           // same distance from the bottom, centre at the same fraction of the width
  kBottomFullWidth,  // along the bottom edge, as wide as the window
};

inline constexpr int kNoTab = -1;

// A row names what it is and where it goes; everything else it names only where it differs
// from a plain, visible, enabled control that keeps its place and is outside the keyboard order.
struct ControlRow {
  ControlId id;
  std::string_view name;
  ControlKind kind;
  Rect96 place;
  std::string_view caption = {};
  Look look = kPlain;
  bool visible = true;
  bool enabled = true;
  Anchor anchor = Anchor::kTopLeft;
  int tab = kNoTab;  // position in the keyboard order
};

inline constexpr Rect96 kClientSize96 = {0, 0, 497, 267};

// The rows spell control ids and kinds unqualified, in a namespace of their own so that the
// short names stay here.
namespace layout_rows {
using enum ControlId;
using enum ControlKind;

// clang-format off
inline constexpr std::array<ControlRow, kControlCount> kLayout = {{
    {.id = kUptimeLabel, .name = "LabelUptime", .kind = kLabel, .place = {24, 200, 73, 33},
     .caption = "0", .look = kUptime},
    {.id = kStatusLine, .name = "LabelStatus", .kind = kLabel, .place = {0, 248, 497, 19},
     .caption = "延时启动正在运行....", .look = kGreenText, .enabled = false,
     .anchor = Anchor::kBottomFullWidth},
    {.id = kSlot1Label, .name = "Label1", .kind = kLabel, .place = {11, 53, 57, 17},
     .caption = "程序1:", .look = kCentred},
    {.id = kDelay1Label, .name = "Label5", .kind = kLabel, .place = {333, 54, 44, 17},
     .caption = "延时:", .look = kCentred},
    {.id = kSeconds1Label, .name = "Label6", .kind = kLabel, .place = {422, 54, 39, 17},
     .caption = "秒", .look = kCentred},
    {.id = kSlot2Label, .name = "Label2", .kind = kLabel, .place = {11, 85, 57, 17},
     .caption = "程序2:", .look = kCentred},
    {.id = kDelay2Label, .name = "Label3", .kind = kLabel, .place = {333, 86, 44, 17},
     .caption = "延时:", .look = kCentred},
    {.id = kSeconds2Label, .name = "Label4", .kind = kLabel, .place = {422, 86, 39, 17},
     .caption = "秒", .look = kCentred},
    {.id = kSlot3Label, .name = "Label7", .kind = kLabel, .place = {11, 116, 57, 17},
     .caption = "程序3:", .look = kCentred},
    {.id = kDelay3Label, .name = "Label8", .kind = kLabel, .place = {333, 117, 44, 17},
     .caption = "延时:", .look = kCentred},
    {.id = kSeconds3Label, .name = "Label9", .kind = kLabel, .place = {422, 117, 39, 17},
     .caption = "秒", .look = kCentred},
    {.id = kSlot4Label, .name = "Label10", .kind = kLabel, .place = {11, 148, 57, 17},
     .caption = "程序4:", .look = kCentred},
    {.id = kDelay4Label, .name = "Label11", .kind = kLabel, .place = {333, 149, 44, 17},
     .caption = "延时:", .look = kCentred},
    {.id = kSeconds4Label, .name = "Label12", .kind = kLabel, .place = {422, 149, 39, 17},
     .caption = "秒", .look = kCentred},
    {.id = kHelpLink, .name = "Label13", .kind = kLabel, .place = {432, 8, 44, 17},
     .caption = "?帮助", .look = kLink},
    {.id = kTopRule, .name = "Bevel1", .kind = kBevel, .place = {0, 24, 481, 9}},
    {.id = kBottomRule, .name = "Bevel2", .kind = kBevel, .place = {1, 179, 481, 9}},
    {.id = kTitleLabel, .name = "Label14", .kind = kLabel, .place = {14, 3, 179, 25},
     .caption = "程序延时启动器", .look = kTitle, .enabled = false},
    {.id = kRemotePortLabel, .name = "LabelTCP", .kind = kLabel, .place = {248, 7, 161, 17},
     .look = kGreenText},
    {.id = kPowerScreen, .name = "PanelPowerOFFTips", .kind = kPanel,
     .place = {456, 152, 1433, 713}, .look = kPowerPanel, .visible = false, .tab = 16},
    {.id = kSaveButton, .name = "BitBtn1", .kind = kButton, .place = {374, 194, 105, 44},
     .caption = "保存修改(&OK)", .anchor = Anchor::kBottom, .tab = 0},
    {.id = kCancelButton, .name = "BitBtn2", .kind = kButton, .place = {264, 194, 97, 44},
     .caption = "取消(&C)", .anchor = Anchor::kBottom, .tab = 1},
    {.id = kFile1Edit, .name = "EditFile1", .kind = kEdit, .place = {72, 51, 217, 21},
     .caption = "QyrPlayer_V3.exe", .tab = 2},
    {.id = kPick1Button, .name = "BitBtn3", .kind = kButton, .place = {295, 48, 35, 25},
     .caption = "---", .tab = 3},
    {.id = kDelay1Edit, .name = "EditDelay1", .kind = kEdit, .place = {378, 51, 41, 21},
     .caption = "10", .tab = 4},
    {.id = kFile2Edit, .name = "EditFile2", .kind = kEdit, .place = {72, 83, 217, 21},
     .tab = 5},
    {.id = kPick2Button, .name = "BitBtn4", .kind = kButton, .place = {295, 80, 35, 25},
     .caption = "---", .tab = 6},
    {.id = kDelay2Edit, .name = "EditDelay2", .kind = kEdit, .place = {378, 83, 41, 21},
     .caption = "15", .tab = 7},
    {.id = kFile3Edit, .name = "EditFile3", .kind = kEdit, .place = {72, 114, 217, 21},
     .tab = 8},
    {.id = kPick3Button, .name = "BitBtn5", .kind = kButton, .place = {295, 111, 35, 25},
     .caption = "---", .tab = 9},
    {.id = kDelay3Edit, .name = "EditDelay3", .kind = kEdit, .place = {378, 114, 41, 21},
     .caption = "18", .tab = 10},
    {.id = kFile4Edit, .name = "EditFile4", .kind = kEdit, .place = {72, 146, 217, 21},
     .tab = 11},
    {.id = kPick4Button, .name = "BitBtn6", .kind = kButton, .place = {295, 143, 35, 25},
     .caption = "---", .tab = 12},
    {.id = kDelay4Edit, .name = "EditDelay4", .kind = kEdit, .place = {378, 146, 41, 21},
     .caption = "20", .tab = 13},
    {.id = kAutoRunCheck, .name = "CheckBoxAutoRun", .kind = kCheckBox,
     .place = {129, 205, 105, 25}, .caption = "开机自启动", .tab = 14},
    {.id = kStartupFolderButton, .name = "ButtonUserSetAutoRUN", .kind = kButton,
     .place = {112, 195, 129, 41}, .caption = "手动设置自启动", .visible = false, .tab = 15},
}};
// clang-format on

}  // namespace layout_rows

using layout_rows::kLayout;

// The child-window id of a control (what WM_COMMAND carries and GetDlgItem finds).
inline constexpr int kFirstControlWindowId = 100;
constexpr int ControlWindowId(ControlId id) { return kFirstControlWindowId + static_cast<int>(id); }

constexpr const ControlRow& RowOf(ControlId id) { return kLayout[static_cast<std::size_t>(id)]; }

// The shutdown screen: the two labels inside kPowerScreen, stacked from the panel's top.
// They are children of the panel, so they are not in the window's own table.
enum class PanelLabelId : std::uint8_t { kScreenTitle, kScreenMessage, kCount };

enum class Dock : std::uint8_t {
  kTop,   // a strip along the top, full width
  kFill,  // whatever the strips above leave
};

struct PanelLabelRow {
  PanelLabelId id;
  std::string_view name;
  Dock dock;
  int height = 0;  // of a kTop strip, at 96 dpi
  std::string_view caption;
  Look look;
};

// The panel's raised bevel, inside which its labels lie.
inline constexpr int kPanelBevel = 1;

inline constexpr std::size_t kPanelLabelCount = static_cast<std::size_t>(PanelLabelId::kCount);

// clang-format off
inline constexpr std::array<PanelLabelRow, kPanelLabelCount> kPanelLayout = {{
    {.id = PanelLabelId::kScreenTitle, .name = "Label15", .dock = Dock::kTop, .height = 121,
     .caption = "奎尔诺(QyrNOR)控制系统", .look = kPowerTitle},
    {.id = PanelLabelId::kScreenMessage, .name = "Label1Tips", .dock = Dock::kFill,
     .caption = "系统关机中...", .look = kPowerTips},
}};
// clang-format on

inline constexpr int kFirstPanelLabelWindowId = 200;
constexpr int PanelLabelWindowId(PanelLabelId id) {
  return kFirstPanelLabelWindowId + static_cast<int>(id);
}
constexpr const PanelLabelRow& PanelRowOf(PanelLabelId id) {
  return kPanelLayout[static_cast<std::size_t>(id)];
}

// The fonts of the tables, each made once: a number below kFontSlots that two rows share exactly
// when their fonts are the same. Nothing for a font no row has.
inline constexpr std::size_t kFontSlots = kControlCount + kPanelLabelCount;
std::optional<std::size_t> FontSlot(const FontChoice& font);

// The slot rows' boxes, row 0 to 3.
inline constexpr std::array<ControlId, 4> kFileBoxes = {
    ControlId::kFile1Edit, ControlId::kFile2Edit, ControlId::kFile3Edit, ControlId::kFile4Edit};
inline constexpr std::array<ControlId, 4> kDelayBoxes = {
    ControlId::kDelay1Edit, ControlId::kDelay2Edit, ControlId::kDelay3Edit, ControlId::kDelay4Edit};
// The buttons that pick a file for each row.
inline constexpr std::array<ControlId, 4> kPickButtons = {
    ControlId::kPick1Button, ControlId::kPick2Button, ControlId::kPick3Button,
    ControlId::kPick4Button};

// The controls of the keyboard order, first to last.
inline constexpr std::size_t kTabCount = 17;
std::array<ControlId, kTabCount> TabOrder();

// A control of the keyboard order as the window finds it when Tab is pressed.
struct TabStop {
  bool focused;
  bool takes_focus;  // visible, enabled and a tab stop
};

// Where Tab (Shift+Tab with `back`) moves the focus, as a place in the keyboard order: the next
// control round the order that takes the focus; with the focus outside the order, the first
// (Shift+Tab: the last) that takes it. Nothing when no control takes it.
std::optional<std::size_t> NextTabStop(const std::array<TabStop, kTabCount>& stops, bool back);

// Scales a 96-dpi length to the system's dots per inch, rounding as the layout is scaled.
int ScaleToDpi(int value, int dpi);
Rect96 ScaleToDpi(const Rect96& place, int dpi);

// Where a control goes when the client area changes from `initial` (the size it was created
// with, both in the same pixels as `place`) to `now`.
Rect96 AnchoredPlace(Anchor anchor, const Rect96& place, const Rect96& initial, const Rect96& now);

// The controls that follow the window and where they go: AnchoredPlace for every control not
// anchored top-left, from the places they were created at (`created`, indexed by ControlId).
std::vector<std::pair<ControlId, Rect96>> AnchoredPlaces(
    const std::array<Rect96, kControlCount>& created, const Rect96& initial, const Rect96& now);

// The shutdown panel once it is aligned: the whole client area above the status line.
Rect96 PowerPanelPlace(const Rect96& client, const Rect96& status);

// Each panel label's place inside a panel of `panel` size (pixels at `dpi`), in table order. A
// strip keeps its height even when the panel is too short for it; the fill then gets nothing.
std::array<Rect96, kPanelLayout.size()> PanelLabelPlaces(const Rect96& panel, int dpi);

}  // namespace qyr
