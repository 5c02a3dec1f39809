#pragma once
// Automatic start at every logon, for every user: one value in the machine-wide Run key that
// points at the running executable.
#include <string_view>

#include <windows.h>

namespace qyr {

inline constexpr const char* kRunKeyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
// Spelled so in every Run key this program has ever written; keep it.
inline constexpr const char* kAutoRunValueName = "QyrNOR_Delay_Luancher";

// Writes (enable) or deletes the value `name` under HKLM\<kRunKeyPath>; the key is opened, never
// created. A value naming this exe already, in any letter case, is left as it is. False only
// when enabling could not write the value (no administrator rights, no key). Removing always
// counts as done. Raises nothing.
bool SetAutoRun(std::string_view name, bool enable) noexcept;

// The user's own Startup folder in the shell, for adding a shortcut by hand.
void OpenUserStartupFolder(HWND owner);

}  // namespace qyr
