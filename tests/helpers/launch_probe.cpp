// A program for the launcher to start: it records that it ran in "<its own path>.started",
// shows a window so that it becomes ready for input, and ends by itself after three seconds.
#include <windows.h>

#include "probe_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  qyr::probe::ReportBesideExe(L".started", "started\n");
  return qyr::probe::ShowWindowForThreeSeconds(instance, L"launch probe", show);
}
