// The main window as it is really created and as a user drives it, against the layout table.
#include <windows.h>
#include <gtest/gtest.h>
// after <windows.h>, which it needs
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/main_window_win.h"
#include "base/command_line.h"
#include "base/handles_win.h"
#include "base/ids_win.h"
#include "base/wide_win.h"
#include "form_fixture_win.h"

#include <shellapi.h>

namespace qyr {
namespace {

using test::ScratchDir;
using Form = test::FormFixture;

RECT ClientPlace(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

::testing::AssertionResult At(HWND child, const Rect96& want) {
  const RECT r = ClientPlace(child);
  const Rect96 got = {r.left, r.top, r.right - r.left, r.bottom - r.top};
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "at " << got.left << "," << got.top << " " << got.width << "x" << got.height
         << ", want " << want.left << "," << want.top << " " << want.width << "x" << want.height;
}

bool Styled(HWND w, LONG_PTR bits) { return (GetWindowLongPtrW(w, GWL_STYLE) & bits) == bits; }

std::string ClassOf(HWND w) {
  wchar_t cls[32] = {};
  GetClassNameW(w, cls, 32);
  return WideToUtf8(cls);
}

TEST(MainWindow, EveryControlIsCreatedAsTheTableSays) {
  ScratchDir dir("Qyr_layout");
  Form f(dir);
  HWND form = f.form.hwnd();
  EXPECT_EQ(WindowTextUtf8(form), "延时启动器-QyrNOR展厅中控系统");
  RECT client = {};
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 497);
  EXPECT_EQ(client.bottom, 267);
  EXPECT_TRUE(Styled(form, WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME));
  EXPECT_FALSE(Styled(form, WS_MAXIMIZEBOX));

  HDC dc = CreateCompatibleDC(nullptr);
  for (const ControlRow& row : kLayout) {
    SCOPED_TRACE(std::string(row.name));
    HWND c = GetDlgItem(form, ControlWindowId(row.id));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(f.form.Control(row.id), c);
    EXPECT_TRUE(At(c, row.place));
    const char* cls = row.kind == ControlKind::kEdit ? "Edit"
                      : row.kind == ControlKind::kButton || row.kind == ControlKind::kCheckBox
                          ? "Button"
                          : "Static";
    EXPECT_EQ(ClassOf(c), cls);
    // Row 1's file box already shows the loaded slot.
    if (row.id != ControlId::kFile1Edit) {
      EXPECT_EQ(WindowTextUtf8(c), row.caption);
    }
    EXPECT_EQ(Styled(c, WS_VISIBLE), row.visible);
    EXPECT_EQ(IsWindowEnabled(c) != FALSE, row.enabled);

    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
    EXPECT_EQ(WideToUtf8(lf.lfFaceName), row.look.font.face);
    EXPECT_EQ(lf.lfHeight, -row.look.font.height);

    if (row.kind == ControlKind::kLabel) {
      // The colours the label paints with, asked the way the label itself asks.
      const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
          form, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c)));
      LOGBRUSH lb = {};
      GetObjectW(brush, sizeof(lb), &lb);
      const COLORREF text = row.look.text == Colour::kGreen       ? RGB(0, 128, 0)
                            : row.look.text == Colour::kBlue      ? RGB(0, 0, 255)
                            : row.look.text == Colour::kScrollBar ? GetSysColor(COLOR_SCROLLBAR)
                                                                  : GetSysColor(COLOR_WINDOWTEXT);
      EXPECT_EQ(GetTextColor(dc), text);
      EXPECT_EQ(lb.lbColor,
                row.look.back == Colour::kGreen ? RGB(0, 128, 0) : GetSysColor(COLOR_BTNFACE));
    }
  }
  DeleteDC(dc);
  EXPECT_EQ(SendMessageW(f.form.Control(ControlId::kAutoRunCheck), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST(MainWindow, At144DpiEverythingIsOneAndAHalfTimesAsLarge) {
  ScratchDir dir("Qyr_dpi");
  Form f(dir, {.dpi = 144});
  const auto x15 = [](int v) { return (v * 3 + 1) / 2; };  // halves round up
  RECT client = {};
  GetClientRect(f.form.hwnd(), &client);
  EXPECT_EQ(client.right, x15(497));
  EXPECT_EQ(client.bottom, x15(267));
  for (const ControlRow& row : kLayout) {
    SCOPED_TRACE(std::string(row.name));
    const Rect96& p = row.place;
    EXPECT_TRUE(At(f.form.Control(row.id), {x15(p.left), x15(p.top), x15(p.width), x15(p.height)}));
    LOGFONTW lf = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(f.form.Control(row.id), WM_GETFONT, 0, 0)),
               sizeof(lf), &lf);
    EXPECT_EQ(lf.lfHeight, -x15(row.look.font.height));
  }
}

TEST(MainWindow, LaterControlsLieAboveEarlierOnes) {
  ScratchDir dir("Qyr_stack");
  Form f(dir);
  std::vector<HWND> top_down;
  for (HWND c = GetWindow(f.form.hwnd(), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    top_down.push_back(c);
  }
  ASSERT_EQ(top_down.size(), kControlCount);
  for (std::size_t i = 0; i < kControlCount; ++i) {
    EXPECT_EQ(top_down[kControlCount - 1 - i], f.form.Control(kLayout[i].id)) << kLayout[i].name;
  }
}

// Presses Tab (or Shift+Tab) as the message loop would see it and returns the focused control.
ControlId PressTab(MainWindow& form, bool back = false) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_SHIFT] = back ? 0x80 : 0;
  SetKeyboardState(keys);
  MSG msg = {GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_TRUE(form.PreTranslateMessage(msg));
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
  for (const ControlRow& row : kLayout) {
    if (form.Control(row.id) == GetFocus()) return row.id;
  }
  return ControlId::kCount;
}

TEST(MainWindow, TabFollowsTheKeyboardOrder) {
  ScratchDir dir("Qyr_tab");
  Form f(dir, {.show = SW_SHOWNORMAL});
  SetForegroundWindow(f.form.hwnd());
  SetFocus(f.form.Control(ControlId::kSaveButton));
  using enum ControlId;
  const ControlId forward[] = {kCancelButton, kFile2Edit,   kPick2Button,  kDelay2Edit,
                               kFile3Edit,    kPick3Button, kDelay3Edit,   kFile4Edit,
                               kPick4Button,  kDelay4Edit,  kAutoRunCheck, kSaveButton};
  ASSERT_EQ(PressTab(f.form), kCancelButton);
  ASSERT_EQ(PressTab(f.form), kFile1Edit);
  ASSERT_EQ(PressTab(f.form), kPick1Button);
  ASSERT_EQ(PressTab(f.form), kDelay1Edit);
  for (std::size_t i = 1; i < std::size(forward); ++i) {
    EXPECT_EQ(PressTab(f.form), forward[i]) << i;  // the hidden button is skipped
  }
  EXPECT_EQ(PressTab(f.form, true), kAutoRunCheck);
  // Once shown, the manual-autostart button comes right after the check box it covers.
  ShowWindow(f.form.Control(kStartupFolderButton), SW_SHOW);
  EXPECT_EQ(PressTab(f.form), kStartupFolderButton);
  EXPECT_EQ(PressTab(f.form), kSaveButton);
}

TEST(MainWindow, ResizingKeepsTheStatusLineAndButtonsAtTheBottom) {
  ScratchDir dir("Qyr_resize");
  Form f(dir);
  RECT frame = {};
  GetWindowRect(f.form.hwnd(), &frame);
  // 497 x 267 grows to 994 x 367.
  SetWindowPos(f.form.hwnd(), nullptr, 0, 0, frame.right - frame.left + 497,
               frame.bottom - frame.top + 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(At(f.form.Control(ControlId::kStatusLine), {0, 348, 994, 19}));
  // Centres at the same fraction of the width: 426.5/497 and 312.5/497 of 994.
  EXPECT_TRUE(At(f.form.Control(ControlId::kSaveButton), {801, 294, 105, 44}));
  EXPECT_TRUE(At(f.form.Control(ControlId::kCancelButton), {577, 294, 97, 44}));
  EXPECT_TRUE(At(f.form.Control(ControlId::kFile4Edit), RowOf(ControlId::kFile4Edit).place));
  EXPECT_TRUE(At(f.form.Control(ControlId::kAutoRunCheck), RowOf(ControlId::kAutoRunCheck).place));
}

TEST(MainWindow, StatusLineWakesUpWithTheFirstMessageAndKeepsAmpersandsAsAccelerators) {
  ScratchDir dir("Qyr_status");
  Form f(dir);
  HWND status = f.form.Control(ControlId::kStatusLine);
  EXPECT_FALSE(IsWindowEnabled(status));
  f.form.ShowStatus("收到指令:A&B");
  EXPECT_TRUE(IsWindowEnabled(status));
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "收到指令:A&B");
  // Left to the label itself, which draws "&" as the underline of the next character.
  EXPECT_FALSE(Styled(status, SS_NOPREFIX));
}

TEST(MainWindow, SavingABadDelayShowsTheErrorAndChangesNothing) {
  ScratchDir dir("Qyr_baddelay");
  const std::string ini = dir / "QyrDelay.ini";
  test::WriteFileBytes(ini, "[AUTORUN]\r\nDelay0=-7\r\n");  // nothing starts on the way to 42
  Form f(dir);
  f.Ticks(42);
  f.form.SetControlText(ControlId::kDelay3Edit, "12s");
  test::BoxCatcher box;
  SendMessageW(f.form.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
  box.Stop();
  ASSERT_TRUE(box.seen());
  EXPECT_EQ(box.text(), "'12s' is not a valid integer value.");
  EXPECT_EQ(box.caption(), ApplicationTitle());
  EXPECT_TRUE(box.has_stop_icon());
  EXPECT_EQ(f.form.ControlText(ControlId::kStatusLine), "延时启动正在运行....");
  EXPECT_FALSE(IsWindowEnabled(f.form.Control(ControlId::kStatusLine)));
  EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), 42);
  EXPECT_EQ(test::ReadFileBytes(ini), "[AUTORUN]\r\nDelay0=-7\r\n");
}

// A Save that may not write the settings file starts the same exe again, elevated, in save mode.
// Here a stand-in takes the exe's place: it records how it was called and ends with the exit
// code the case gives it; the window must turn that code into the usual texts and boxes. The
// cases share one window, in an order in which each leaves the next its initial state.
TEST(MainWindow, ASaveThatCannotWriteLeavesItToAnElevatedCopyAndShowsItsOutcome) {
  const std::string refused = "Unable to write to ";
  const std::string autorun_failed =
      "错误:自启动设置失败,需管理权限启动本程序,或自行手动加入启动项";
  const struct {
    const char* what;
    std::optional<DWORD> exit;  // none: nothing starts, as when the user declines the prompt
    std::string box;            // begins so; empty: no box
    bool saved;
  } cases[] = {
      {"declined", std::nullopt, refused, false},
      {"settings refused", SaveExitCode(SaveOutcome::kRefused), refused, false},
      {"crashed", 0xC0000005, refused, false},
      {"saved", SaveExitCode(SaveOutcome::kSaved), "", true},
      {"Run value refused", SaveExitCode(SaveOutcome::kAutoRunFailed), autorun_failed, true},
  };
  const RowText typed[] = {{"C:\\Show Room\\播放器 \"V3\"\\", " 300 "},
                           {"D:\\展厅\\欢迎.pptx", "$1F"},
                           {"", "400"},
                           {"\\\\pc\\share\\a b\\\\", "500"}};
  ScratchDir dir("Qyr_elevate");
  const std::string exe = dir / "QyrDelay.exe";
  const std::string ini = dir / "QyrDelay.ini";
  test::WriteFileBytes(ini, "[AUTORUN]\r\nDelay0=-7\r\n");  // nothing starts on the way
  Form f(dir, {.show = SW_SHOWNORMAL});
  // Open elsewhere, with reading shared and writing not: no one may write it, whatever their
  // rights (the read-only flag would not stop root, under whom the tests may run).
  const UniqueFile held(CreateFileW(Utf8ToWide(ini).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  for (std::size_t i = 0; i < std::size(typed); ++i) {
    f.form.SetControlText(kFileBoxes[i], typed[i].file);
    f.form.SetControlText(kDelayBoxes[i], typed[i].delay);
  }
  SendMessageW(f.form.Control(ControlId::kAutoRunCheck), BM_SETCHECK, BST_UNCHECKED, 0);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(Utf8ToWide(exe + ".args").c_str());
    if (c.exit) {
      ASSERT_TRUE(test::CopyFileTo(test::BuildDir() + "save_probe.exe", exe));
      test::WriteFileBytes(exe + ".exit", std::to_string(*c.exit));
    }
    f.Ticks(42);
    const std::int32_t ticks = f.form.Launch().ScheduleState().Ticks();
    test::BoxCatcher box;
    SendMessageW(f.form.Control(ControlId::kSaveButton), BM_CLICK, 0, 0);
    // While the copy runs the window goes on; only Save rests until its outcome is in.
    EXPECT_TRUE(test::PumpUntil(
        [&] {
          return IsWindowEnabled(f.form.Control(ControlId::kSaveButton)) &&
                 (box.seen() || f.Status() == "保存成功,正在测试运行...");
        },
        std::chrono::seconds(20)));
    box.Stop();

    EXPECT_EQ(box.seen(), !c.box.empty());
    EXPECT_EQ(box.text().substr(0, c.box.size()), c.box);
    if (c.box == refused) {
      EXPECT_EQ(box.text(), refused + ini + ".");
      EXPECT_TRUE(box.has_stop_icon());
    }
    EXPECT_EQ(f.Status(), c.saved ? "保存成功,正在测试运行..." : "延时启动正在运行....");
    EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), c.saved ? 0 : ticks);
    EXPECT_EQ(IsWindowVisible(f.form.Control(ControlId::kStartupFolderButton)) != FALSE,
              c.box == autorun_failed);
    EXPECT_EQ(test::ReadFileBytes(ini), "[AUTORUN]\r\nDelay0=-7\r\n");
    for (std::size_t i = 0; i < std::size(typed); ++i) {
      EXPECT_EQ(f.form.ControlText(kFileBoxes[i]), typed[i].file);  // what was typed stays
    }

    // The copy was called with what was typed, read back as the system reads a command line.
    ASSERT_EQ(test::FileExists(exe + ".args"), c.exit.has_value());
    if (!c.exit) continue;
    const std::string line = test::ReadFileBytes(exe + ".args");
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(Utf8ToWide(line).c_str(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
    LocalFree(argv);
    EXPECT_EQ(SplitCommandLine(line), args);
    ASSERT_EQ(args.size(), 11u) << line;
    EXPECT_EQ(args[1], "--save");
    for (std::size_t i = 0; i < std::size(typed); ++i) {
      EXPECT_EQ(args[2 + 2 * i], typed[i].file);
      EXPECT_EQ(args[3 + 2 * i], typed[i].delay);
    }
    EXPECT_EQ(args[10], "0");
  }
}

TEST(MainWindow, CancelHidesTheWindowAndKeepsWhatWasTyped) {
  ScratchDir dir("Qyr_cancel");
  Form f(dir, {.show = SW_SHOWNORMAL});
  f.form.SetControlText(ControlId::kFile2Edit, "D:\\展厅\\new.exe");
  const std::string slot = f.form.Launch().Slots()[1].Path;
  SendMessageW(f.form.Control(ControlId::kCancelButton), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(f.form.hwnd()));
  ShowWindow(f.form.hwnd(), SW_SHOWNORMAL);
  EXPECT_EQ(f.form.ControlText(ControlId::kFile2Edit), "D:\\展厅\\new.exe");
  EXPECT_EQ(f.form.Launch().Slots()[1].Path, slot);
  EXPECT_FALSE(test::FileExists(dir / "QyrDelay.ini"));
}

TEST(MainWindow, DoubleClickOnTheUptimeFigureRestartsTheCount) {
  ScratchDir dir("Qyr_uptime");
  Form f(dir);
  f.Ticks(77);
  ASSERT_EQ(f.form.Launch().ScheduleState().Ticks(), 77);
  SendMessageW(f.form.Control(ControlId::kUptimeLabel), WM_LBUTTONDBLCLK, MK_LBUTTON,
               MAKELPARAM(5, 5));
  EXPECT_EQ(f.form.Launch().ScheduleState().Ticks(), 0);
}

LONG own_ticks = 0;

TEST(MainWindow, TheNameTestBoxComesFirstAndNothingRunsBehindIt) {
  ScratchDir dir("Launcher_name");  // neither the folder nor the file holds the product name
  MainWindow form(dir / "Launcher.exe");
  // The box runs a message loop of its own: the test's timer firing there shows that ticks
  // are delivered while it is open, so the schedule's would have been too.
  own_ticks = 0;
  const UINT_PTR own = SetTimer(
      nullptr, 0, 250, [](HWND, UINT, UINT_PTR, DWORD) { InterlockedIncrement(&own_ticks); });
  std::int32_t ticks_while_open = -1;
  bool shown_while_open = true;
  test::BoxCatcher box(GetCurrentProcessId(), [&] {
    while (own_ticks < 6) Sleep(20);  // a second and a half: past the schedule's first tick
    ticks_while_open = form.Launch().ScheduleState().Ticks();
    // A click on the tray entry meanwhile shows nothing half set up.
    HWND tray = form.Tray()->HandlerWindow();
    SendMessageW(tray, kWmTrayCallback, form.Tray()->Id(), WM_LBUTTONDOWN);
    SendMessageW(tray, kWmTrayCallback, form.Tray()->Id(), WM_LBUTTONUP);
    shown_while_open = IsWindowVisible(form.hwnd()) != FALSE;
  });
  ASSERT_TRUE(form.Create(SW_HIDE));
  box.Stop();
  KillTimer(nullptr, own);
  ASSERT_TRUE(box.seen());
  EXPECT_EQ(box.text(), "EXE文件名有误,请改为QyrDelay.exe");
  EXPECT_EQ(box.caption(), ApplicationTitle());
  EXPECT_FALSE(box.has_stop_icon());
  EXPECT_TRUE(box.topmost());  // nothing visible to be owned by: it comes to the front itself
  EXPECT_EQ(ticks_while_open, 0);
  EXPECT_FALSE(shown_while_open);
  // Once start-up is done, the schedule runs: its first tick comes a second later.
  EXPECT_TRUE(test::PumpUntil([&] { return form.Launch().ScheduleState().Ticks() == 1; },
                              std::chrono::seconds(5)));
}

// Types `file` into the open-file dialog that the watcher finds and records what it offered.
struct PickerUser {
  std::string file;
  std::string offered;
  DWORD thread = GetCurrentThreadId();  // the test's own window thread, not another process's
  void operator()() {
    HWND dlg = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND w, LPARAM lp) -> BOOL {
          wchar_t cls[32] = {};
          GetClassNameW(w, cls, 32);
          if (std::wstring(cls) != L"#32770" || !IsWindowVisible(w)) return TRUE;
          *reinterpret_cast<HWND*>(lp) = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&dlg));
    // The file name field: a combo box (cmb13) or a plain box (edt1).
    HWND name = GetDlgItem(dlg, 0x47c);
    if (name == nullptr) name = GetDlgItem(dlg, 0x480);
    wchar_t text[MAX_PATH] = {};
    SendMessageW(name, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(text));
    offered = WideToUtf8(text);
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Utf8ToWide(file).c_str()));
  }
};

TEST(MainWindow, PickersShareOneDialogThatOffersTheLastFile) {
  ScratchDir dir("Qyr_picker");
  Form f(dir, {.show = SW_SHOWNORMAL});
  const std::string delay2 = f.form.ControlText(ControlId::kDelay2Edit);
  // Each row's button fills its own box; the dialog offers the file picked before.
  const ControlId pickers[] = {ControlId::kPick1Button, ControlId::kPick2Button,
                               ControlId::kPick3Button, ControlId::kPick4Button};
  std::string files[std::size(pickers)];
  for (std::size_t row = 0; row < std::size(pickers); ++row) {
    files[row] = dir / ("row" + std::to_string(row + 1) + ".exe");
    test::WriteFileBytes(files[row], "x");
    PickerUser user{files[row], ""};
    {
      test::BoxCatcher dialog(GetCurrentProcessId(), [&] { user(); });
      SendMessageW(f.form.Control(pickers[row]), BM_CLICK, 0, 0);
    }
    if (row > 0) {
      EXPECT_NE(user.offered.find("row" + std::to_string(row) + ".exe"), std::string::npos)
          << user.offered;
    }
  }
  for (std::size_t row = 0; row < std::size(pickers); ++row) {
    EXPECT_EQ(f.form.ControlText(kFileBoxes[row]), files[row]) << row;
  }
  EXPECT_EQ(f.form.ControlText(ControlId::kDelay2Edit), delay2);
}

}  // namespace
}  // namespace qyr
