#include "app/save_mode_win.h"

#include <exception>

#include "base/command_line.h"
#include "base/wide_win.h"
#include "launch/settings_win.h"
#include "launch/starter_win.h"
#include "winsys/autorun_win.h"

namespace qyr {

namespace {

SaveOutcome SaveAsAsked(const SaveArgs& args, const std::string& ini_path) {
  if (!args.ok()) return SaveOutcome::kBadArguments;
  if (ControlCharacterMessage(args.request.rows)) return SaveOutcome::kBadText;
  SlotArray slots;
  if (TakeRows(slots, args.request.rows)) return SaveOutcome::kBadDelay;
  return WriteSave(ini_path, slots, args.request.autorun);
}

}  // namespace

SaveOutcome WriteSave(const std::string& ini_path, const SlotArray& slots, bool autorun) {
  if (!WriteSlots(ini_path, slots)) return SaveOutcome::kRefused;
  return SetAutoRun(kAutoRunValueName, autorun) ? SaveOutcome::kSaved : SaveOutcome::kAutoRunFailed;
}

int RunSaveMode(const SaveArgs& args, const std::string& ini_path) {
  SaveOutcome outcome = SaveOutcome::kRefused;
  try {
    outcome = SaveAsAsked(args, ini_path);
  } catch (const std::exception&) {
    // Out of memory halfway: what was written is unknown, which the window reports as refused.
  }
  return static_cast<int>(SaveExitCode(outcome));
}

KernelHandle StartElevatedSave(HWND owner, const std::string& exe, const SaveRequest& request) {
  // The handle tells when the save is done; a failure is reported in the window's own boxes.
  // Declined at the prompt (ERROR_CANCELLED) or not started at all: the same to the caller.
  KernelHandle process;
  ShellStart(owner, L"runas", exe, JoinArguments(SaveModeArguments(request)), SW_HIDE, process);
  return process;
}

}  // namespace qyr
