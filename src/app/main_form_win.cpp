#include "app/main_form_win.h"

#include "app/app_rules.h"
#include "app/app_win.h"
#include "base/errors.h"
#include "base/wide_win.h"
#include "launch/settings_win.h"
#include "launch/starter_win.h"

namespace qyr {

namespace {

int DesktopDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

void RegisterMainClass(WNDPROC proc) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  wc.lpszClassName = TMainForm::kClassName;
  RegisterClassExW(&wc);  // a second registration in the same process fails harmlessly
}

}  // namespace

TMainForm::TMainForm(std::string exe_path) : exe_path_(std::move(exe_path)) {}

TMainForm::~TMainForm() {
  TimerTask.Detach();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

bool TMainForm::Create(int show_cmd) {
  RegisterMainClass(&BaseWindow::WindowProc);
  const int dpi = DesktopDpi();
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME |
                      WS_CLIPCHILDREN;
  RECT rc = {0, 0, ScaleToDpi(kClientSize96.width, dpi), ScaleToDpi(kClientSize96.height, dpi)};
  AdjustWindowRectEx(&rc, style, FALSE, 0);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  if (CreateWindowExW(0, kClassName, Utf8ToWide(kMainCaption).c_str(), style, x, y, w, h, nullptr,
                      nullptr, GetModuleHandleW(nullptr), this) == nullptr) {
    return false;
  }
  ShowWindow(hwnd_, show_cmd);
  return true;
}

void TMainForm::CreateControls() {
  const int dpi = DesktopDpi();
  font_.reset(CreateFontW(-ScaleToDpi(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif"));
  for (const ControlSpec& spec : kLayout) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD;
    DWORD ex_style = 0;
    switch (spec.kind) {
      case ControlKind::kLabel: style |= SS_NOTIFY; break;
      case ControlKind::kEdit:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kButton: cls = L"BUTTON"; style |= WS_TABSTOP | BS_PUSHBUTTON; break;
      case ControlKind::kCheckBox: cls = L"BUTTON"; style |= WS_TABSTOP | BS_AUTOCHECKBOX; break;
      case ControlKind::kBevel: style |= SS_ETCHEDHORZ; break;
      case ControlKind::kPanel: style |= SS_NOTIFY; break;
    }
    if (spec.visible) style |= WS_VISIBLE;
    if (!spec.enabled) style |= WS_DISABLED;
    const int id = ControlWindowId(spec.id);
    HWND child = CreateWindowExW(
        ex_style, cls, Utf8ToWide(spec.caption).c_str(), style, ScaleToDpi(spec.place.left, dpi),
        ScaleToDpi(spec.place.top, dpi), ScaleToDpi(spec.place.width, dpi),
        ScaleToDpi(spec.place.height, dpi), hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    controls_[static_cast<std::size_t>(spec.id)] = child;
  }
  SendMessageW(Control(ControlId::CheckBoxAutoRun), BM_SETCHECK, BST_CHECKED, 0);
}

HWND TMainForm::ControlByName(std::string_view name) const {
  for (const ControlSpec& spec : kLayout) {
    if (spec.name == name) return Control(spec.id);
  }
  return nullptr;
}

std::string TMainForm::ControlText(ControlId id) const { return WindowTextUtf8(Control(id)); }

void TMainForm::SetControlText(ControlId id, std::string_view text) {
  SetWindowTextUtf8(Control(id), text);
}

void TMainForm::FormCreate() {
  UptimeTicks = 0;
  LoadSettings();
  if (!PassesNameTest(exe_path_)) ShowPlainMessage(kWrongNameMessage);
}

void TMainForm::ShowStatus(std::string_view text) {
  HWND status = Control(ControlId::LabelStatus);
  EnableWindow(status, TRUE);
  SetWindowTextUtf8(status, text);
}

void TMainForm::LoadSettings() {
  Slots = ReadSlots(SettingsPath(), FolderOf(exe_path_));
  for (std::size_t i = 0; i < Slots.size(); ++i) {
    if (!ShownInRow(Slots[i])) continue;
    SetControlText(kFileBoxes[i], Slots[i].Path);
    SetControlText(kDelayBoxes[i], DelayText(Slots[i].Delay));
  }
}

void TMainForm::SaveSettings() {
  std::array<RowText, kSlotCount> rows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = {ControlText(kFileBoxes[i]), ControlText(kDelayBoxes[i])};
  }
  if (auto error = TakeRows(Slots, rows)) throw ConvertError(*error);
  WriteSlots(SettingsPath(), Slots);
}

void TMainForm::TimerTaskTimer() {
  TimerTask.SetEnabled(false);
  LaunchTick();
  TimerTask.SetEnabled(true);
  if (InSlowMode(UptimeTicks)) {
    ShowStatus(kSlowModeText);
    TimerTask.SetInterval(kSlowTaskPeriodMs);
  }
}

void TMainForm::LaunchTick() {
  SetControlText(ControlId::LabelUptime, std::to_string(UptimeTicks));
  for (int i : DueSlots(Slots, UptimeTicks)) {
    const std::string path = Slots[static_cast<std::size_t>(i)].Path;
    const bool started = StartProgram(path);
    ShowStatus(LaunchStatus(UptimeTicks, started, path));
  }
  UptimeTicks = NextTick(UptimeTicks);
}

bool TMainForm::StartProgram(const std::string& path) { return qyr::StartProgram(hwnd_, path); }

void TMainForm::LabelUptimeDblClick() { UptimeTicks = 0; }

void TMainForm::OnCommand(ControlId id, WORD code) {
  if (id == ControlId::LabelUptime && code == STN_DBLCLK) LabelUptimeDblClick();
}

LRESULT TMainForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      TimerTask.Attach(hwnd_);
      RunHandler([this] { FormCreate(); });
      return 0;
    case WM_TIMER:
      if (wp == kTimerTask) TimerTaskTimer();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wp) - kFirstControlWindowId;
      if (lp != 0 && id >= 0 && id < static_cast<int>(kControlCount)) {
        OnCommand(static_cast<ControlId>(id), HIWORD(wp));
      }
      return 0;
    }
    case WM_DESTROY:
      TimerTask.Detach();
      if (is_main_window_) PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

}  // namespace qyr
