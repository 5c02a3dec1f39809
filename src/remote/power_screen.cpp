#include "remote/power_screen.h"

namespace qyr {

namespace {

bool Armed(const Countdowns& counts) { return counts.power_off != 0 || counts.reboot != 0; }

}  // namespace

std::string CommandStatus(Command command, std::string_view shown_text) {
  return std::string(StatusPrefix(command)) + std::string(shown_text);
}

PowerEffects PowerScreen::OnCommand(Command command, std::string_view shown_text) {
  // The countdown is armed before the screen shows it; a running one starts again from 5. The
  // last power command is the one that happens: it clears a countdown of the other kind.
  PowerEffects effects;
  if (command == Command::kPowerOff) {
    countdowns_ = {.power_off = kCountdownStart, .reboot = 0};
    effects = ShowScreen(PowerScreenText(command));
    effects.noted = PowerEvent::kOff;
  } else if (command == Command::kReboot) {
    countdowns_ = {.power_off = 0, .reboot = kCountdownStart};
    effects = ShowScreen(PowerScreenText(command));
    effects.noted = PowerEvent::kReboot;
  }
  effects.status = CommandStatus(command, shown_text);
  return effects;
}

PowerEffects PowerScreen::OnTick() {
  PowerEffects effects;
  effects.steps = CountdownTick(countdowns_);
  if (!effects.steps.empty()) screen_text_ = effects.steps.back().screen;
  return effects;
}

PowerEffects PowerScreen::OnStatusClick() {
  PowerEffects effects;
  if (Armed(countdowns_)) {
    effects.noted = PowerEvent::kCancelled;
    effects.log.emplace_back("countdown cancelled at the PC");
  }
  countdowns_ = {};
  timer_ = shown_ = false;
  effects.timer = false;
  effects.shown = false;
  return effects;
}

PowerEffects PowerScreen::OnScreenClick() {
  PowerEffects effects;
  if (timer_ && Armed(countdowns_)) effects.log.emplace_back("countdown paused at the PC");
  timer_ = shown_ = false;
  form_ = WindowForm::kNormal;
  effects.timer = false;
  effects.shown = false;
  effects.form = WindowForm::kNormal;
  return effects;
}

PowerEffects PowerScreen::ShowScreen(std::string_view text) {
  // A timer that already runs keeps its period: a repeated command does not delay the next tick.
  timer_ = shown_ = topmost_ = true;
  form_ = WindowForm::kFullScreen;
  screen_text_ = std::string(text);
  PowerEffects effects;
  effects.timer = true;
  effects.screen_text = screen_text_;
  effects.shown = true;
  effects.form = WindowForm::kFullScreen;
  return effects;
}

PowerPhase PowerScreen::Phase() const {
  if (shown_) {
    return countdowns_.power_off > 0 || countdowns_.reboot > 0 ? PowerPhase::kCounting
                                                               : PowerPhase::kScreenOnly;
  }
  switch (form_) {
    case WindowForm::kAsCreated:
      return PowerPhase::kIdle;
    case WindowForm::kNormal:
      return PowerPhase::kPaused;
    case WindowForm::kFullScreen:
      break;
  }
  return PowerPhase::kCancelled;
}

}  // namespace qyr
