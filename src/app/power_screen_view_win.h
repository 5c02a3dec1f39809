#pragma once
// The shutdown screen on the main window: carries out what the PowerScreen model decides (the
// status line, the control timer, the panel over the window, the window's form and the power
// request) and hands the model the clicks and ticks that reach the window.
#include <array>
#include <functional>
#include <optional>
#include <string_view>

#include <windows.h>

#include "app/layout.h"
#include "base/ids_win.h"
#include "base/timer_win.h"
#include "remote/power_screen.h"
#include "remote/protocol.h"
#include "remote/status_reply.h"

namespace qyr {

class PowerScreenView {
 public:
  struct Hooks {
    std::function<void(std::string_view)> show_status;
    std::function<void(std::string_view)> log;
    std::function<void()> flush_log;
    // Just before the power request: nothing may start behind it.
    std::function<void()> before_power_action;
    // Shown, in front and out of the tray.
    std::function<void()> bring_to_front;
  };
  struct Parts {
    HWND window = nullptr;
    HWND panel = nullptr;   // the screen, a child of the window
    HWND status = nullptr;  // the status line, whose click cancels
    std::array<HWND, kPanelLayout.size()> labels{};
    int dpi = 96;
  };

  explicit PowerScreenView(Hooks hooks) : hooks_(std::move(hooks)) {}
  ~PowerScreenView() { control_timer_.Detach(); }
  PowerScreenView(const PowerScreenView&) = delete;
  PowerScreenView& operator=(const PowerScreenView&) = delete;

  void Attach(const Parts& parts);
  void Detach() { control_timer_.Detach(); }

  // A received command; `text` is it as received (code page 936).
  void Obey(Command command, std::string_view text);
  // A power command of the clock, with the status line it gives.
  void ObeyClock(Command command, std::string_view status);

  // The control timer's ticks and the clicks on the status line, kSlot1Label and the screen's text.
  // True if the message was the screen's.
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  // The screen over the whole client area once it was first shown, its labels in their places.
  void ArrangePanel();

  const PowerScreen& Model() const { return model_; }
  // The last power event since start, by the PC's clock: what the status reply reports.
  const std::optional<LastPower>& LastPowerEvent() const { return last_power_; }
  const WindowTimer& ControlTimer() const { return control_timer_; }
  HWND PanelLabel(PanelLabelId id) const { return parts_.labels[static_cast<std::size_t>(id)]; }

 private:
  void OnStatusClicked();      // cancels
  void OnScreenTextClicked();  // leaves the screen; the countdown pauses
  void OnShowScreenClicked();  // the screen by hand, without a countdown
  void Render(const PowerEffects& effects);
  void ApplyWindowForm(WindowForm form);
  void SetBorderless(bool borderless);
  void Note(PowerEvent what);

  Hooks hooks_;
  Parts parts_;
  PowerScreen model_;
  WindowTimer control_timer_{kTimerCtrl, kControlPeriodMs, false};
  bool panel_fills_client_ = false;  // aligned to the client area once first shown
  std::optional<LastPower> last_power_;
};

}  // namespace qyr
