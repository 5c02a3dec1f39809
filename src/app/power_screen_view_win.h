#pragma once
// The shutdown screen on the main window: carries out on its own parts what the PowerScreen model
// decides (the control timer, the panel over the window, the window's form, the log's lines),
// hands the model the clicks and ticks that reach the window, and returns to the window what is
// the window's: the status line, its coming to the front, and the power request.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "app/layout.h"
#include "base/ids_win.h"
#include "base/timer_win.h"
#include "remote/command_log_win.h"
#include "remote/power_screen.h"
#include "remote/protocol.h"
#include "remote/status_reply.h"

namespace qyr {

// What the screen leaves to the window, in this order: the status line's texts in turn, the
// window shown and in front (out of the tray), then each power request, which the window makes
// through RequestPower once nothing can start behind it.
struct ScreenOutcome {
  std::vector<std::string> status;
  bool bring_to_front = false;
  std::vector<PowerRequest> power;
};

class PowerScreenView {
 public:
  struct Parts {
    HWND window = nullptr;
    HWND panel = nullptr;   // the screen, a child of the window
    HWND status = nullptr;  // the status line, whose click cancels
    std::array<HWND, kPanelLayout.size()> labels{};
    int dpi = 96;
  };

  explicit PowerScreenView(CommandLog& log) : log_(log) {}
  ~PowerScreenView() { control_timer_.Detach(); }
  PowerScreenView(const PowerScreenView&) = delete;
  PowerScreenView& operator=(const PowerScreenView&) = delete;

  void Attach(const Parts& parts);
  void Detach() { control_timer_.Detach(); }

  // A received command; `text` is it as received (code page 936).
  ScreenOutcome Obey(Command command, std::string_view text);
  // A power command of the clock, with the status line it gives.
  ScreenOutcome ObeyClock(Command command, std::string_view status);

  // The control timer's ticks and the clicks on the status line, kSlot1Label and the screen's text.
  // Nothing if the message was not the screen's.
  std::optional<ScreenOutcome> OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  // Asks the system to power off or restart; its line is in the log's file before the PC goes
  // down, and a refusal is noted for the status reply.
  void RequestPower(PowerRequest request);

  // The screen over the whole client area once it was first shown, its labels in their places.
  void ArrangePanel();

  const PowerScreen& Model() const { return model_; }
  // The last power event since start, by the PC's clock: what the status reply reports.
  const std::optional<LastPower>& LastPowerEvent() const { return last_power_; }
  const WindowTimer& ControlTimer() const { return control_timer_; }
  HWND PanelLabel(PanelLabelId id) const { return parts_.labels[static_cast<std::size_t>(id)]; }

 private:
  ScreenOutcome Render(const PowerEffects& effects);
  void ApplyWindowForm(WindowForm form);
  void SetBorderless(bool borderless);
  void Note(PowerEvent what);

  CommandLog& log_;
  Parts parts_;
  PowerScreen model_;
  WindowTimer control_timer_{kTimerCtrl, kControlPeriodMs, false};
  bool panel_fills_client_ = false;  // aligned to the client area once first shown
  std::optional<LastPower> last_power_;
};

}  // namespace qyr
