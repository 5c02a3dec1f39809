// The main window and its tray entry, driven as the shell and a user would.
#include <windows.h>

#include "app/main_window_win.h"
#include "base/ids_win.h"
#include "form_fixture_win.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace qyr {
namespace {

using test::ScratchDir;

struct TrayForm : test::FormFixture {
  using FormFixture::FormFixture;
  void Shell(UINT mouse) {
    SendMessageW(form.Tray()->HandlerWindow(), kWmTrayCallback, form.Tray()->Id(), mouse);
  }
  // Whether the shell holds our entry: a modify succeeds only for an entry it has.
  bool EntryPresent() {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = form.Tray()->HandlerWindow();
    data.uID = form.Tray()->Id();
    return Shell_NotifyIconW(NIM_MODIFY, &data) != 0;
  }
};

TEST(MainTray, StartsHiddenWithItsEntryAndTooltip) {
  ScratchDir dir("Qyr_tray_start");
  TrayForm t(dir);
  EXPECT_FALSE(IsWindowVisible(t.form.hwnd()));
  EXPECT_TRUE(t.form.Tray()->WantedInTray());
  EXPECT_TRUE(t.EntryPresent());
  EXPECT_EQ(t.form.Tray()->Hint(), "延时启动器-QyrNOR展厅中控系统");
  EXPECT_NE(t.form.Tray()->Icon(), nullptr);
}

TEST(MainTray, LeftClickRestoresMinimiseAndCancelHide) {
  ScratchDir dir("Qyr_tray_click");
  TrayForm t(dir);
  t.Shell(WM_RBUTTONDOWN);
  t.Shell(WM_RBUTTONUP);
  EXPECT_FALSE(IsWindowVisible(t.form.hwnd()));

  t.Shell(WM_LBUTTONDOWN);
  t.Shell(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(t.form.hwnd()));
  EXPECT_FALSE(IsIconic(t.form.hwnd()));

  // Minimising sends the window to the tray; the entry stays.
  ShowWindow(t.form.hwnd(), SW_MINIMIZE);
  EXPECT_TRUE(
      test::PumpUntil([&] { return !IsWindowVisible(t.form.hwnd()); }, std::chrono::seconds(5)));
  EXPECT_TRUE(t.EntryPresent());
  t.Shell(WM_LBUTTONDOWN);
  t.Shell(WM_LBUTTONUP);
  EXPECT_TRUE(IsWindowVisible(t.form.hwnd()));
  EXPECT_FALSE(IsIconic(t.form.hwnd()));

  // Cancel hides it the same way, without touching the window state.
  t.form.SetControlText(ControlId::kFile2Edit, "typed");
  SendMessageW(t.form.Control(ControlId::kCancelButton), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(t.form.hwnd()));
  EXPECT_EQ(t.form.ControlText(ControlId::kFile2Edit), "typed");
}

TEST(MainTray, ShellRestartAddsTheEntryAgainAndTheEndRemovesIt) {
  ScratchDir dir("Qyr_tray_shell");
  HWND handler = nullptr;
  UINT id = 0;
  {
    TrayForm t(dir);
    handler = t.form.Tray()->HandlerWindow();
    id = t.form.Tray()->Id();
    // The shell lost our entry (as when explorer restarts) ...
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = handler;
    data.uID = id;
    Shell_NotifyIconW(NIM_DELETE, &data);
    ASSERT_FALSE(t.EntryPresent());
    // ... and says so to every top-level window.
    SendMessageW(handler, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(t.EntryPresent());
  }
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof(data);
  data.hWnd = handler;
  data.uID = id;
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &data));
}

}  // namespace
}  // namespace qyr
