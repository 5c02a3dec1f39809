#pragma once
// The settings file as text: the edit a Save makes, and what the profile API cannot tell when
// it reads one key (a key or a whole section given twice). Section names and keys are matched
// as the profile API matches them: blanks around them ignored, ASCII letters in either case, a
// section header ending at the last "]" of its line, lines starting with ";" left alone.
//
// The text is in the file's own encoding, one byte a unit: the ANSI code page or UTF-8. Only
// the bytes CR, LF, blank, tab, "[", "]", ";" and "=" are looked at; none of the first five is
// ever part of a code-page-936 character, and "=" never is.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyr {

struct IniValue {
  std::string key;
  std::string value;  // holds no line end
};

// The text after writing each value into `section` in turn, as the profile API writes one key
// after another. The first line of the key in the first such section is replaced by key=value
// (the key as the file spells it, the line's own end kept), and every other byte stays as it
// was. A missing key goes after the section's last line that is not blank, a missing section at
// the end of the text; new lines end in CR LF, and a last line without an end gets one first.
std::string SetIniValues(std::string_view text, std::string_view section,
                         const std::vector<IniValue>& values);

// The value the profile API reads for a key: in the first such section, the first such line,
// blanks around it removed and a pair of quotes around it taken off. Nothing for a missing key.
std::optional<std::string> GetIniValue(std::string_view text, std::string_view section,
                                       std::string_view key);

// A section read from the whole file: a key given twice there, or the section given twice.
struct IniRepeat {
  std::string section;
  std::string key;  // as written the second time; empty when the section is repeated
};
std::optional<IniRepeat> FindRepeat(std::string_view text, std::string_view section);

// For the status line, after "…已关闭:": 设置项AllowFrom重复, or [REMOTE]一节重复.
std::string RepeatText(const IniRepeat& repeat);
// For the command log: "AllowFrom given twice", "[REMOTE] given twice".
std::string RepeatLogText(const IniRepeat& repeat);

}  // namespace qyr
