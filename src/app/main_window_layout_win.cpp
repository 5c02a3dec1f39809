// The main window's look: built from the layout table, painted in its colours, kept in place when
// resized, and walked with Tab in the table's keyboard order.
#include "app/app_rules.h"
#include "app/main_window_win.h"
// after <windows.h>, which it needs
#include <optional>

#include "base/errors.h"
#include "base/wide_win.h"

#include <commctrl.h>

namespace qyr {

namespace {

int DesktopDpi() {
  const WindowDc screen(nullptr);
  const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? dpi : 96;
}

// The window class, by which helpers and tests find the window.
constexpr const wchar_t* kMainClassName = L"TMainForm";

void RegisterMainClass(WNDPROC proc) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  // The program icon holds every size; take the ones the title bar and Alt+Tab want.
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.lpszClassName = kMainClassName;
  RegisterClassExW(&wc);  // a second registration in the same process fails harmlessly
}

// The main window: sizeable, system menu and minimise box, no maximise box.
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;

struct ChildClass {
  const wchar_t* name;
  DWORD style;
  DWORD ex_style;
};

DWORD LabelAlignStyle(Align align) {
  switch (align) {
    case Align::kLeft:
      return SS_LEFTNOWORDWRAP;
    case Align::kCenter:
      return SS_CENTER;
    case Align::kMiddle:
      return SS_CENTER | SS_CENTERIMAGE;  // one line, centred vertically too
  }
  return SS_LEFTNOWORDWRAP;
}

ChildClass ClassFor(const ControlRow& row) {
  switch (row.kind) {
    case ControlKind::kLabel: {
      // SS_NOTIFY: labels report clicks. No SS_NOPREFIX: "&" underlines as in every label.
      return {L"STATIC", SS_NOTIFY | LabelAlignStyle(row.look.align), 0};
    }
    case ControlKind::kEdit:
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE};
    case ControlKind::kButton:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::kCheckBox:
      return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ControlKind::kBevel:
      return {L"STATIC", SS_OWNERDRAW, 0};
    case ControlKind::kPanel:
      // Painted by the window (bevel, desktop colour); SS_NOTIFY so that clicks on it stop there
      // instead of falling through to the controls it covers.
      return {L"STATIC", SS_OWNERDRAW | SS_NOTIFY | WS_CLIPCHILDREN, 0};
  }
  return {L"STATIC", 0, 0};
}

COLORREF ColourRef(Colour colour) {
  switch (colour) {
    case Colour::kWindowText:
      return GetSysColor(COLOR_WINDOWTEXT);
    case Colour::kBtnFace:
      return GetSysColor(COLOR_BTNFACE);
    case Colour::kScrollBar:
      return GetSysColor(COLOR_SCROLLBAR);
    case Colour::kBackground:
      return GetSysColor(COLOR_BACKGROUND);
    case Colour::kHighlight:
      return GetSysColor(COLOR_HIGHLIGHT);
    case Colour::kGreen:
      return kGreenRgb;
    case Colour::kBlue:
      return kBlueRgb;
    case Colour::kBlack:
      return RGB(0, 0, 0);
  }
  return GetSysColor(COLOR_WINDOWTEXT);
}

const ControlRow* RowForControl(HWND control) {
  const int index = GetDlgCtrlID(control) - kFirstControlWindowId;
  if (index < 0 || index >= static_cast<int>(kControlCount)) return nullptr;
  return &kLayout[static_cast<std::size_t>(index)];
}

const PanelLabelRow* PanelRowForControl(HWND control) {
  const int index = GetDlgCtrlID(control) - kFirstPanelLabelWindowId;
  if (index < 0 || index >= static_cast<int>(kPanelLayout.size())) return nullptr;
  return &kPanelLayout[static_cast<std::size_t>(index)];
}

HBRUSH BrushFor(Colour colour, HBRUSH green) {
  switch (colour) {
    case Colour::kGreen:
      return green;
    case Colour::kBlack:
      return static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    case Colour::kBackground:
      return GetSysColorBrush(COLOR_BACKGROUND);
    case Colour::kHighlight:
      return GetSysColorBrush(COLOR_HIGHLIGHT);
    case Colour::kScrollBar:
      return GetSysColorBrush(COLOR_SCROLLBAR);
    case Colour::kWindowText:
      return GetSysColorBrush(COLOR_WINDOWTEXT);
    case Colour::kBtnFace:
    case Colour::kBlue:
      break;
  }
  return GetSysColorBrush(COLOR_BTNFACE);
}

// The panel hands its labels' clicks and colour questions to the window, which answers them as
// for its own controls.
LRESULT CALLBACK PanelProc(HWND panel, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
  switch (msg) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
      return SendMessageW(GetParent(panel), msg, wp, lp);
    case WM_NCDESTROY:
      RemoveWindowSubclass(panel, &PanelProc, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(panel, msg, wp, lp);
}

bool TakesFocus(HWND control) {
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
  return (style & WS_TABSTOP) != 0 && (style & WS_VISIBLE) != 0 && (style & WS_DISABLED) == 0;
}

// Tab and Shift+Tab in the layout's keyboard order; an edit box entered so is all selected.
void MoveTabFocus(const MainWindow& form, bool back) {
  const auto order = TabOrder();
  HWND focus = GetFocus();
  std::array<TabStop, kTabCount> stops{};
  for (std::size_t i = 0; i < order.size(); ++i) {
    HWND control = form.Control(order[i]);
    stops[i] = {control == focus, TakesFocus(control)};
  }
  const std::optional<std::size_t> next = NextTabStop(stops, back);
  if (!next) return;
  HWND control = form.Control(order[*next]);
  SetFocus(control);
  if (RowOf(order[*next]).kind == ControlKind::kEdit) SendMessageW(control, EM_SETSEL, 0, -1);
}

}  // namespace

bool MainWindow::Create(int show_cmd, int dpi) {
  RegisterMainClass(&BaseWindow::WindowProc);
  dpi_ = dpi > 0 ? dpi : DesktopDpi();
  initial_client_ = ScaleToDpi(kClientSize96, dpi_);
  RECT rc = {0, 0, initial_client_.width, initial_client_.height};
  AdjustWindowRectEx(&rc, kFormStyle, FALSE, 0);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  // Centred on the desktop the first time; later showings keep wherever the user left it.
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  if (CreateWindowExW(0, kMainClassName, Utf8ToWide(kMainCaption).c_str(), kFormStyle, x, y, w, h,
                      nullptr, nullptr, GetModuleHandleW(nullptr), this) == nullptr) {
    return false;
  }
  ShowWindow(hwnd_, show_cmd);
  return true;
}

HFONT MainWindow::FontFor(const FontChoice& font) {
  const std::optional<std::size_t> slot = FontSlot(font);
  if (!slot) throw AppError("No row of the layout has the font " + std::string(font.face));
  UniqueFont& made = fonts_[*slot];
  if (!made) {
    made.reset(CreateFontW(-ScaleToDpi(font.height, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH, Utf8ToWide(font.face).c_str()));
  }
  return made.get();
}

void MainWindow::CreateControls() {
  green_brush_.reset(CreateSolidBrush(kGreenRgb));
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlRow& row : kLayout) {
    const ChildClass cls = ClassFor(row);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | cls.style;
    if (row.visible) style |= WS_VISIBLE;
    if (!row.enabled) style |= WS_DISABLED;
    const Rect96 place = ScaleToDpi(row.place, dpi_);
    const auto index = static_cast<std::size_t>(row.id);
    initial_places_[index] = place;
    HWND child = CreateWindowExW(
        cls.ex_style, cls.name, Utf8ToWide(row.caption).c_str(), style, place.left, place.top,
        place.width, place.height, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlWindowId(row.id))), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(row.look.font)), FALSE);
    // Each new control lies above the ones before it.
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    controls_[index] = child;
  }
  SendMessageW(Control(ControlId::kAutoRunCheck), BM_SETCHECK, BST_CHECKED, 0);
  CreatePanelLabels();
}

void MainWindow::CreatePanelLabels() {
  HWND panel = Control(ControlId::kPowerScreen);
  SetWindowSubclass(panel, &PanelProc, 1, 0);
  RECT rc = {};
  GetClientRect(panel, &rc);
  const auto places = PanelLabelPlaces({0, 0, rc.right, rc.bottom}, dpi_);
  for (const PanelLabelRow& row : kPanelLayout) {
    const auto index = static_cast<std::size_t>(row.id);
    const Rect96& place = places[index];
    HWND label = CreateWindowExW(
        0, L"STATIC", Utf8ToWide(row.caption).c_str(),
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_NOTIFY | LabelAlignStyle(row.look.align),
        place.left, place.top, place.width, place.height, panel,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(PanelLabelWindowId(row.id))),
        GetModuleHandleW(nullptr), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(row.look.font)), FALSE);
    panel_labels_[index] = label;
  }
}

void MainWindow::ArrangeControls() {
  if (Control(ControlId::kStatusLine) == nullptr) return;
  RECT client = {};
  GetClientRect(hwnd_, &client);
  const Rect96 now = {0, 0, client.right, client.bottom};
  for (const auto& [id, r] : AnchoredPlaces(initial_places_, initial_client_, now)) {
    MoveWindow(Control(id), r.left, r.top, r.width, r.height, TRUE);
  }
  power_view_.ArrangePanel();
}

bool MainWindow::HandleLookMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) ArrangeControls();
      return false;
    case WM_CTLCOLORSTATIC: {
      const auto control = reinterpret_cast<HWND>(lp);
      const Look* look = nullptr;
      if (const ControlRow* row = RowForControl(control)) {
        if (row->kind != ControlKind::kEdit) look = &row->look;
      } else if (const PanelLabelRow* label = PanelRowForControl(control)) {
        look = &label->look;
      }
      if (look == nullptr) return false;
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, ColourRef(look->text));
      SetBkMode(dc, TRANSPARENT);
      SetBkColor(dc, ColourRef(look->back));
      result = reinterpret_cast<LRESULT>(BrushFor(look->back, green_brush_.get()));
      return true;
    }
    case WM_DRAWITEM: {
      // The bevels: a sunken line along the bottom edge.
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      const ControlRow* row = RowForControl(item->hwndItem);
      if (row == nullptr) return false;
      RECT rc = item->rcItem;
      if (row->kind == ControlKind::kBevel) {
        FillRect(item->hDC, &rc, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(item->hDC, &rc, EDGE_ETCHED, BF_BOTTOM);
      } else if (row->kind == ControlKind::kPanel) {
        // The panel's own colour with a raised one-pixel bevel.
        FillRect(item->hDC, &rc, BrushFor(row->look.back, green_brush_.get()));
        DrawEdge(item->hDC, &rc, BDR_RAISEDINNER, BF_RECT);
      } else {
        return false;
      }
      result = TRUE;
      return true;
    }
    case WM_SETCURSOR: {
      const ControlRow* row = RowForControl(reinterpret_cast<HWND>(wp));
      if (row == nullptr || row->look.cursor != Cursor::kHand) return false;
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      result = TRUE;
      return true;
    }
    default:
      return false;
  }
}

bool MainWindow::PreTranslateMessage(MSG& msg) {
  // Only keys want translating here; the rest (socket notifications, timers, the mouse) goes
  // straight to its window, as the dialog manager would send it, without asking whose it is.
  if (hwnd_ == nullptr || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  const bool ours = msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd);
  if (ours && msg.message == WM_KEYDOWN && msg.wParam == VK_TAB &&
      (GetKeyState(VK_CONTROL) & 0x8000) == 0 && (GetKeyState(VK_MENU) & 0x8000) == 0) {
    // The dialog manager would follow the stacking order, which is not the keyboard order here
    // (the manual-autostart button lies above the check box but comes after it).
    MoveTabFocus(*this, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

}  // namespace qyr
