#pragma once
// Every private window message and timer id of the program, in one place.
#include <windows.h>

namespace qyr {

enum PrivateMessage : UINT {
  // Socket notification: wParam = socket, LOWORD(lParam) = events, HIWORD(lParam) = error.
  kWmSocketNotify = WM_USER + 1,
  // A listener closes the connections it let go before this message was posted.
  kWmSocketRelease = WM_USER + 30,
  // A listener serves the next round of its connections that have bytes waiting.
  kWmSocketServe = WM_USER + 31,
  // A call made from the other of the program's two threads: lParam = the call, waited for.
  kWmRunCall = WM_USER + 32,
  // The command log kept a line on another thread: its flush timer is armed.
  kWmLogKept = WM_USER + 33,
  // The elevated save's process has ended: the main window reads its exit code.
  kWmElevatedSaveEnded = WM_USER + 40,
  // A started program has ended: wParam = its slot, lParam = the launcher's watch id.
  kWmProgramEnded = WM_USER + 41,
  // Shell notification of the tray entry: wParam = icon id, lParam = mouse message.
  kWmTrayCallback = WM_USER + 0x400,
};

enum TimerId : UINT_PTR {
  kTimerTask = 1,      // launch schedule, 1000 ms then 60000 ms
  kTimerCtrl = 2,      // power countdown, 1000 ms
  kTimerLog = 3,       // command log flush, 250 ms after the first line kept
  kTimerRefusals = 4,  // refusals counted but not logged: their lines, a minute later
  kTimerClock = 5,     // power by the clock: one shot at the start of the next minute
  kTimerRestart = 10,  // kTimerRestart + slot: one shot when the slot's program starts again
};

}  // namespace qyr
