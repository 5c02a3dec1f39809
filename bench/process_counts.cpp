// What a running program holds in Windows' own terms, for the soak: its handles and its GDI and
// USER objects. Run under the same Wine as the program.
//
//   process_counts.exe NAME.exe
//       prints, for the one process of that name: pid=, handles= (GetProcessHandleCount),
//       gdi_objects= and user_objects= (GetGuiResources), and two counts for systems that answer
//       those with 0: table_handles= (its entries in the system's handle table) and windows= (its
//       windows: top-level, child and message-only). Exit code 1 when there is no such process
//       or more than one.
#include <windows.h>
// After windows.h, which they need.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include <tlhelp32.h>
#include <winternl.h>

namespace {

// The one process running NAME, or 0.
DWORD FindProcess(const wchar_t* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) {
      found = entry.th32ProcessID;
      ++count;
    }
  }
  CloseHandle(snapshot);
  return count == 1 ? found : 0;
}

// The process's entries in the system's handle table; -1 when the table cannot be read.
long TableHandles(DWORD pid) {
  constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch && buffer.size() < (1u << 28)) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
      continue;
    }
    if (status < 0) return -1;
    break;
  }
  const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->Count; ++i) count += table->Handle[i].OwnerPid == pid ? 1 : 0;
  return count;
}

struct WindowCount {
  DWORD pid;
  long count;
};

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM param) {
  auto* windows = reinterpret_cast<WindowCount*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  windows->count += owner == windows->pid ? 1 : 0;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM param) {
  CountWindow(hwnd, param);
  EnumChildWindows(hwnd, CountWindow, param);
  return TRUE;
}

long Windows(DWORD pid) {
  WindowCount windows = {pid, 0};
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
  for (HWND hwnd = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); hwnd != nullptr;
       hwnd = FindWindowExW(HWND_MESSAGE, hwnd, nullptr, nullptr)) {
    CountTopLevel(hwnd, reinterpret_cast<LPARAM>(&windows));
  }
  return windows.count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: process_counts NAME.exe\n");
    return 2;
  }
  const DWORD pid = FindProcess(argv[1]);
  const HANDLE process = pid == 0 ? nullptr : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    std::printf("pid=none\n");
    return 1;
  }
  DWORD handles = 0;
  if (!GetProcessHandleCount(process, &handles)) handles = 0;
  std::printf("pid=%lu\nhandles=%lu\ngdi_objects=%lu\nuser_objects=%lu\n", pid, handles,
              GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS));
  std::printf("table_handles=%ld\nwindows=%ld\n", TableHandles(pid), Windows(pid));
  CloseHandle(process);
  return 0;
}
