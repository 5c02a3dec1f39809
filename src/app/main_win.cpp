// Program entry: one launcher per machine, the main window, the message loop.
#include <string>

#include <windows.h>

#include "app/app_rules.h"
#include "app/app_win.h"
#include "app/main_window_win.h"
#include "app/save_mode_win.h"
#include "app/start_mode.h"
#include "base/wide_win.h"
#include "launch/slots.h"
#include "setup/check_mode_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_cmd) {
  const std::string exe_path = qyr::ModulePathUtf8();
  const qyr::StartMode mode = qyr::ReadStartMode(qyr::WideToUtf8(GetCommandLineW()));
  switch (mode.kind) {
    case qyr::StartKind::kSave:
      // Started elevated by a Save to write for it: no mutex, no window, no listener.
      return qyr::RunSaveMode(mode.save, qyr::SettingsPathFor(exe_path));
    case qyr::StartKind::kCheck:
      // The installer's checks answer by exit code; they must not hold what a running launcher
      // holds.
      return qyr::RunCheckMode(mode.check);
    case qyr::StartKind::kRun:
      break;
  }

  // Held for the life of the process; the system releases it when the process ends.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, qyr::kMutexName);
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) return 0;

  qyr::MainWindow form(exe_path);
  form.SetMainWindow(true);
  // An error escaping any window's handler (the main window's, a socket's, the tray's) is shown
  // in the error box, owned by the main window.
  qyr::SetWindowErrorSink(
      [&form](HWND, const std::string& message) { qyr::ShowErrorBox(form.hwnd(), message); });
  // The window starts in the tray and is never shown, unless the shortcut asks for maximised.
  if (!form.Create(show_cmd == SW_SHOWMAXIMIZED ? show_cmd : SW_HIDE)) return 0;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (form.PreTranslateMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
