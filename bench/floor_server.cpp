// The reference floors for the benchmark: the least a Win32 program can do to serve the
// remote-control port the same way (one thread, notifications as window messages) and answer
// "OK" to every read.
//
//   floor_server.exe PORT [SECONDS [counting]]
//       serves 127.0.0.1:PORT, ends by itself after SECONDS (600).
//
// The plain floor makes one recv and one send per message. The counting floor also works the
// way QyrDelay's receive loop must: it asks how many bytes are pending before it reads (and
// reads that many, 1023 when more than 1024 wait), and asks again after answering, reading on
// while bytes remain. Whatever QyrDelay costs above the counting floor is its own.
#include <winsock2.h>

#include <cwchar>

#include <windows.h>

namespace {

constexpr UINT kWmSocket = WM_USER + 1;
bool counting = false;

u_long Pending(SOCKET s) {
  u_long count = 0;
  return ioctlsocket(s, FIONREAD, &count) == 0 ? count : 0;
}

void Answer(SOCKET s, int size) {
  char buf[1024];
  if (recv(s, buf, size, 0) > 0) send(s, "OK", 2, 0);
}

void ReadNotification(SOCKET s) {
  if (!counting) {
    Answer(s, 1024);
    return;
  }
  do {
    const u_long count = Pending(s);
    Answer(s, count <= 1024 ? static_cast<int>(count) : 1023);
  } while (Pending(s) != 0);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmSocket) {
    const auto s = static_cast<SOCKET>(wp);
    switch (WSAGETSELECTEVENT(lp)) {
      case FD_ACCEPT: {
        const SOCKET c = accept(s, nullptr, nullptr);
        if (c != INVALID_SOCKET) WSAAsyncSelect(c, hwnd, kWmSocket, FD_READ | FD_CLOSE);
        break;
      }
      case FD_READ:
        ReadNotification(s);
        break;
      case FD_CLOSE:
        closesocket(s);
        break;
    }
    return 0;
  }
  if (msg == WM_TIMER) PostQuitMessage(0);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR cmd, int) {
  int port = 0;
  int seconds = 600;
  wchar_t mode[16] = {};
  if (std::swscanf(cmd, L"%d %d %15ls", &port, &seconds, mode) < 1 || port <= 0 || port > 65535)
    return 2;
  counting = std::wcscmp(mode, L"counting") == 0;

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return 1;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"QyrFloorServer";
  RegisterClassW(&wc);
  HWND hwnd =
      CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // A backlog as long as the program's, so that 64 connections set up at once are not left to
  // the system's retries (a second and more each).
  if (hwnd == nullptr || listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, SOMAXCONN) != 0 || WSAAsyncSelect(listener, hwnd, kWmSocket, FD_ACCEPT) != 0)
    return 1;
  SetTimer(hwnd, 1, static_cast<UINT>(seconds) * 1000u, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  closesocket(listener);
  WSACleanup();
  return 0;
}
