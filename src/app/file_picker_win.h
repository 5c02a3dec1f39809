#pragma once
// OpenDialog1: the standard open-file dialog with its usual settings (all files, single
// selection, no read-only box, resizable). One dialog serves every picker and offers the file
// chosen last when it opens again.
#include <string>

#include <windows.h>

namespace qyr {

class FilePicker {
 public:
  // Runs the dialog modally; true when the user confirmed a file.
  bool Pick(HWND owner);
  // Full path of the file chosen last (UTF-8).
  const std::string& FileName() const { return file_name_; }

 private:
  std::string file_name_;
};

}  // namespace qyr
