// Stands in for the showroom player: when the launcher starts it, it records in
// "<its own path>.player" what it finds in the player's display settings, then behaves like
// launch_probe (a window, so that it becomes ready; gone after three seconds).
#include <string>

#include <windows.h>

#include "probe_win.h"

namespace {

std::string Describe(const wchar_t* name) {
  DWORD type = 0, data = 0, size = sizeof(data);
  const LSTATUS rc = RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\DefaultCompany\\QyrPlayer_V3",
                                  name, RRF_RT_ANY, &type, &data, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return "absent";
  if (rc != ERROR_SUCCESS) return "error";
  return (type == REG_DWORD ? "dword:" : "other:") + std::to_string(data);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::string report =
      "fullscreen=" + Describe(L"Screenmanager Fullscreen mode_h3630240806") +
      "\nheight=" + Describe(L"Screenmanager Resolution Height_h2627697771") +
      "\nwidth=" + Describe(L"Screenmanager Resolution Width_h182942802") + "\n";
  qyr::probe::ReportBesideExe(L".player", report);
  return qyr::probe::ShowWindowForThreeSeconds(instance, L"player probe", show);
}
