#include "e2e_support_win.h"

#include "base/wide_win.h"
#include "base/window_base_win.h"
#include "test_support_win.h"

namespace qyr::test {

namespace {

struct MainSearch {
  DWORD pid;           // 0: any process
  std::wstring image;  // empty: any executable
  HWND found;
  int count;
};

std::wstring ImageOf(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = static_cast<DWORD>(std::size(path));
  const BOOL ok = QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  return ok ? std::wstring(path, size) : std::wstring();
}

BOOL CALLBACK FindMain(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<MainSearch*>(lp);
  if (!HasWindowClass(hwnd, L"TMainForm")) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (s->pid != 0 && pid != s->pid) return TRUE;
  if (!s->image.empty() && lstrcmpiW(ImageOf(pid).c_str(), s->image.c_str()) != 0) return TRUE;
  ++s->count;
  s->found = hwnd;
  return TRUE;
}

}  // namespace

int CountMainWindows(const std::string& exe) {
  MainSearch s{0, Utf8ToWide(exe), nullptr, 0};
  EnumWindows(FindMain, reinterpret_cast<LPARAM>(&s));
  return s.count;
}

RunningProgram::RunningProgram(const ScratchDir& dir, const std::string& exe_name)
    : exe_(dir / exe_name) {
  if (!CopyFileTo(BuildDir() + "QyrDelay.exe", exe_)) return;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = L"\"" + Utf8ToWide(exe_) + L"\"";
  if (CreateProcessW(Utf8ToWide(exe_).c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     Utf8ToWide(dir.path()).c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
  }
}

RunningProgram::~RunningProgram() {
  if (process_ == nullptr) return;
  if (Running()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool RunningProgram::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool RunningProgram::WaitForWindow(DWORD limit_ms) {
  const bool found = PumpUntil(
                         [&] {
                           MainSearch s{pid_, {}, nullptr, 0};
                           EnumWindows(FindMain, reinterpret_cast<LPARAM>(&s));
                           window_ = s.found;
                           return window_ != nullptr || !Running();
                         },
                         std::chrono::milliseconds(limit_ms)) &&
                     window_ != nullptr;
  // The window exists from the start of its creation; its start-up (settings read, listeners
  // open) is mostly over once the program first waits for input. Tests that read what start-up
  // fills in still wait for the text they expect.
  if (found) WaitForInputIdle(process_, limit_ms);
  return found;
}

bool RunningProgram::WaitForTicks(DWORD limit_ms) {
  // The figure shows the count before a tick: it leaves "0" at the second tick.
  return PumpUntil([&] { return ControlText(ControlId::kUptimeLabel) != "0"; },
                   std::chrono::milliseconds(limit_ms));
}

std::string RunningProgram::ControlText(ControlId id) const {
  // Ask the control itself: GetWindowText does not reach an edit box of another process.
  wchar_t text[4096] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutW(Control(id), WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, &n);
  return WideToUtf8(std::wstring_view(text, n));
}

bool RunningProgram::Close(DWORD limit_ms) {
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
  DWORD code = 1;
  return WaitForExit(limit_ms, &code) && code == 0;
}

bool RunningProgram::WaitForExit(DWORD limit_ms, DWORD* code) {
  if (process_ == nullptr || WaitForSingleObject(process_, limit_ms) != WAIT_OBJECT_0) return false;
  if (code != nullptr) GetExitCodeProcess(process_, code);
  return true;
}

bool RunningProgram::CancelAtThePc() {
  HWND screen = Control(ControlId::kPowerScreen);
  HWND status = Control(ControlId::kStatusLine);
  if (!PumpUntil([&] { return IsWindowVisible(screen) != FALSE; }, std::chrono::seconds(5))) {
    return false;
  }
  PostMessageW(status, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  PostMessageW(status, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  return PumpUntil([&] { return IsWindowVisible(screen) == FALSE; }, std::chrono::seconds(5));
}

}  // namespace qyr::test
