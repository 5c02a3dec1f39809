#pragma once
// The shutdown screen as a state machine: the two countdowns, whether the control timer runs,
// whether the screen covers the window, and the form the screen gave the main window. Every
// event returns what the window has to carry out; the window decides nothing itself.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/countdown.h"
#include "remote/protocol.h"
#include "remote/status_reply.h"

namespace qyr {

enum class WindowForm {
  kAsCreated,   // the screen has not touched it: framed, normal size, in the tray at first
  kNormal,      // framed and normal size again, shown (the screen was left)
  kFullScreen,  // borderless, maximised over the whole screen, shown
};

// The states a person at the PC tells apart.
enum class PowerPhase { kIdle, kCounting, kScreenOnly, kPaused, kCancelled };

// What the window carries out, in this order: the status line, the control timer, the screen's
// text, the screen itself, the window form, then each step of a tick (both texts, then the
// power request if any). Unset fields leave things as they are. The power event to note (for
// the status reply, stamped with the PC's time) and the command log's lines go with them.
struct PowerEffects {
  std::optional<std::string> status;
  std::optional<bool> timer;
  std::optional<std::string> screen_text;
  std::optional<bool> shown;
  std::optional<WindowForm> form;  // kFullScreen also means topmost and out of the tray
  std::vector<CountdownStep> steps;
  std::optional<PowerEvent> noted;
  std::vector<std::string> log;
};

// The status line a received command gives, before or without the screen: its prefix and the
// message as received (UTF-8).
std::string CommandStatus(Command command, std::string_view shown_text);

class PowerScreen {
 public:
  // A received command; `shown_text` is the message as the status line shows it. Power commands
  // (re)arm their own countdown at 5, clear the other one and raise the screen; the others only
  // report.
  PowerEffects OnCommand(Command command, std::string_view shown_text);
  // One tick of the control timer.
  PowerEffects OnTick();
  // The status line: both countdowns dropped, timer off, screen gone; the window keeps its form.
  PowerEffects OnStatusClick();
  // kScreenTitle or kScreenMessage: the screen goes, the window gets its frame back, the countdowns
  // wait.
  PowerEffects OnScreenClick();
  // Raises the screen with `text`, leaving the countdowns as they are; by hand (kSlot1Label) with
  // kManualScreenText.
  PowerEffects ShowScreen(std::string_view text);

  const Countdowns& Counts() const { return countdowns_; }
  bool TimerOn() const { return timer_; }
  bool Shown() const { return shown_; }
  WindowForm Form() const { return form_; }
  bool Topmost() const { return topmost_; }
  // The text last given to the screen; empty while it still has the layout's own.
  const std::string& ScreenText() const { return screen_text_; }
  PowerPhase Phase() const;

  friend bool operator==(const PowerScreen&, const PowerScreen&) = default;

 private:
  Countdowns countdowns_;
  bool timer_ = false;
  bool shown_ = false;
  WindowForm form_ = WindowForm::kAsCreated;
  bool topmost_ = false;  // never taken back once the screen was up
  std::string screen_text_;
};

}  // namespace qyr
