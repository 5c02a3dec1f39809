#pragma once
// The command log file: opened, appended to and closed for each line, so that a technician may
// read, copy or delete it at any time. A line that cannot be written is dropped; the next one
// tries again. Nothing here raises or waits.
#include <string>
#include <string_view>

namespace qyr {

class CommandLogFile {
 public:
  CommandLogFile() = default;  // off: nothing is ever written
  explicit CommandLogFile(std::string path) : path_(std::move(path)) {}

  bool On() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // "<path>.1", the one old file kept.
  std::string OldPath() const { return path_ + ".1"; }

  // Stamps the event with the local time and appends it; past the size limit the file is first
  // copied to the old file and emptied (copied, not renamed: users may be allowed to change
  // both files but not to create or rename files in the program's folder).
  void Write(std::string_view event) const noexcept;

 private:
  std::string path_;
};

}  // namespace qyr
