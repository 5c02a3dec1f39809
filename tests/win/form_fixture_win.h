#pragma once
// The main window as the program creates it, for the tests that drive it: for an exe in a
// scratch folder, hidden unless asked, and with the schedule stopped so that a test gives the
// ticks itself.
#include <array>
#include <string>

#include <windows.h>

#include "app/main_window_win.h"
#include "base/errors.h"
#include "base/ids_win.h"
#include "launch/settings_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace qyr::test {

struct FormOptions {
  int show = SW_HIDE;
  int dpi = 96;
  bool schedule = false;       // the task timer ticks on its own
  RemoteEndpoint remote = {};  // opened only where the folder holds the product's maker name
};

struct FormFixture {
  explicit FormFixture(const ScratchDir& dir, const FormOptions& options = {})
      : form_exe(dir / "QyrDelay.exe"), form(form_exe, options.remote) {
    EXPECT_TRUE(form.Create(options.show, options.dpi));
    // Only the system timer goes: the window still counts its schedule as running, and a tick
    // given by hand sets it going again, as the handler switches it off and on.
    if (!options.schedule) KillTimer(form.hwnd(), kTimerTask);
  }
  std::string Status() const { return form.ControlText(ControlId::kStatusLine); }
  // Moves the schedule's counter on by `n` ticks, starting what falls due on the way.
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) form.Launch().Tick();
  }
  // The timer's tick as the window receives it.
  void Fire(TimerId id) { SendMessageW(form.hwnd(), WM_TIMER, id, 0); }
  // Save's writing of the rows as typed, without the Run value and without its boxes: a bad
  // delay or a file that cannot be written raise here.
  void SaveRows() {
    std::array<RowText, kSlotCount> rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      rows[i] = {form.ControlText(kFileBoxes[i]), form.ControlText(kDelayBoxes[i])};
    }
    form.Launch().TakeRows(rows);
    const std::string ini = SettingsPathFor(form_exe);
    if (!WriteSlots(ini, form.Launch().Slots())) throw IniFileError(UnableToWriteMessage(ini));
  }
  // The words of the error of type E that SaveRows raises; a failure of the test when it
  // raises none or another.
  template <class E>
  std::string SaveRowsFailure() {
    try {
      SaveRows();
      ADD_FAILURE() << "no error raised";
    } catch (const E& e) {
      return e.what();
    }
    return {};
  }
  std::string form_exe;
  MainWindow form;
};

// A left click as a label receives it from the mouse.
inline void Click(HWND label) {
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

}  // namespace qyr::test
