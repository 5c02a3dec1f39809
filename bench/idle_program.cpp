// A program that a kept slot keeps running: it starts, does nothing and never ends, so that the
// launcher's own cost of watching it can be measured.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Sleep(INFINITE);
  return 0;
}
