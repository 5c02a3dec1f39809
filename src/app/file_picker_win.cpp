#include "app/file_picker_win.h"

#include <vector>

#include "base/system_dll_win.h"
#include "base/wide_win.h"

#include <commdlg.h>

namespace qyr {

bool FilePicker::Pick(HWND owner) {
  // Room for any path the dialog can return, with the last choice offered in the name field.
  std::vector<wchar_t> buffer(32768, L'\0');
  const std::wstring last = Utf8ToWide(file_name_);
  if (last.size() < buffer.size()) std::copy(last.begin(), last.end(), buffer.begin());

  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  static auto* const open_dialog =
      SystemFunction<decltype(GetOpenFileNameW)>(L"comdlg32.dll", "GetOpenFileNameW");
  if (!open_dialog || !open_dialog(&ofn)) return false;
  file_name_ = WideToUtf8(buffer.data());
  return true;
}

}  // namespace qyr
