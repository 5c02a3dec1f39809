#include "test_support_win.h"

#include <algorithm>
#include <vector>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "base/window_base_win.h"

#include <shellapi.h>

namespace qyr::test {

std::string BuildDir() {
  const std::string exe = ModulePathUtf8();
  return exe.substr(0, exe.find_last_of('\\') + 1);
}

ScratchDir::ScratchDir(const std::string& tag) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  static LONG counter = 0;
  const std::string base = WideToUtf8(temp) + tag + "_" + std::to_string(GetCurrentProcessId()) +
                           "_" + std::to_string(InterlockedIncrement(&counter));
  CreateDirectoryW(Utf8ToWide(base).c_str(), nullptr);
  path_ = base + "\\";
}

ScratchDir::~ScratchDir() {
  // Double-zero-terminated list for the shell's recursive delete.
  std::wstring from = Utf8ToWide(path_.substr(0, path_.size() - 1));
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationW(&op);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::string& path) {
  // Shared for writing too: a program that appends to the file meanwhile (its log) goes on.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const UniqueFile f(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  if (!f) return {};
  std::string out;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(f.get(), buf, sizeof(buf), &n, nullptr) && n > 0) out.append(buf, n);
  return out;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  const UniqueFile f(
      CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!f) return;
  DWORD n = 0;
  WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

bool CopyFileTo(const std::string& from, const std::string& to) {
  return CopyFileW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), FALSE) != 0;
}

namespace {

bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit,
          const std::function<void(const MSG&)>& seen) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(limit.count());
  for (;;) {
    // A queue that never empties (peers that keep sending) still lets the condition be looked
    // at every few milliseconds.
    const ULONGLONG look = GetTickCount64() + 5;
    MSG msg;
    while (GetTickCount64() < look && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (seen) seen(msg);
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 20)), QS_ALLINPUT);
  }
}

}  // namespace

void PumpMessages(std::chrono::milliseconds duration) {
  Pump([] { return false; }, duration, nullptr);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return Pump(done, limit, nullptr);
}

bool PumpTimerTicks(HWND window, UINT_PTR id, int count, std::chrono::milliseconds limit) {
  int fired = 0;
  return Pump([&] { return fired >= count; }, limit,
              [&](const MSG& msg) {
                if (msg.message == WM_TIMER && msg.hwnd == window && msg.wParam == id) ++fired;
              });
}

HANDLE StartProcess(const std::string& exe, const std::string& args) {
  std::wstring cmd = L"\"" + Utf8ToWide(exe) + L"\"";
  if (!args.empty()) cmd += L" " + Utf8ToWide(args);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(Utf8ToWide(exe).c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi)) {
    return nullptr;
  }
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

BoxCatcher::BoxCatcher(DWORD process_id, std::function<void()> while_open)
    : process_id_(process_id), while_open_(std::move(while_open)) {
  thread_ = CreateThread(
      nullptr, 0,
      [](LPVOID self) -> DWORD {
        static_cast<BoxCatcher*>(self)->Run();
        return 0;
      },
      this, 0, nullptr);
}

BoxCatcher::~BoxCatcher() { Stop(); }

void BoxCatcher::Stop() {
  if (thread_ == nullptr) return;
  InterlockedExchange(&stop_, 1);
  WaitForSingleObject(thread_, 30000);
  CloseHandle(thread_);
  thread_ = nullptr;
}

void BoxCatcher::Run() {
  for (int i = 0; i < 1500 && !stop_; ++i) {
    // A message box is of the dialog class.
    HWND box = FindProcessWindow(process_id_, [](HWND hwnd) {
      return HasWindowClass(hwnd, L"#32770") && IsWindowVisible(hwnd);
    });
    if (box == nullptr) {
      Sleep(20);
      continue;
    }
    Sleep(100);  // let the box finish drawing
    if (while_open_) while_open_();
    owner_ = GetWindow(box, GW_OWNER);
    topmost_ = (GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    GetWindowRect(box, &rect_);
    caption_ = WindowTextUtf8(box);
    text_ = WindowTextUtf8(GetDlgItem(box, 0xFFFF));
    // The icon sits in a static control: id 0x14 on Windows, stc1 (0x440) under Wine.
    for (int id : {0x14, 0x440}) {
      HWND icon = GetDlgItem(box, id);
      if (icon != nullptr && IsWindowVisible(icon) && SendMessageW(icon, STM_GETICON, 0, 0) != 0) {
        stop_icon_ = true;
      }
    }
    seen_ = true;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return;
  }
}

std::vector<std::string> LogEvents(const std::string& log) {
  std::vector<std::string> events;
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos || end - at < 24) return {"malformed: " + log.substr(at)};
    const std::string stamp = log.substr(at, 24);
    if (stamp[4] != '-' || stamp[10] != ' ' || stamp[19] != '.' || stamp[23] != ' ') {
      return {"bad stamp: " + stamp};
    }
    events.push_back(log.substr(at + 24, end - at - 24));
    at = end + 2;
  }
  return events;
}

}  // namespace qyr::test
