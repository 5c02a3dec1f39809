#include "base/command_line.h"

namespace qyr {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string QuoteArgument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(arg);
  }
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each needs a second one.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, '\\');  // a trailing backslash must not escape the closing quote
  out += '"';
  return out;
}

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += QuoteArgument(arg);
  }
  return line;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  if (line.empty()) return args;

  std::size_t i = 0;
  std::string name;
  if (line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    name = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !IsBlank(line[i])) name += line[i++];
  }
  args.push_back(std::move(name));

  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        std::size_t n = 0;
        for (; i < line.size() && line[i] == '\\'; ++i) ++n;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';  // an escaped quote
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        ++i;
        if (quoted && i < line.size() && line[i] == '"') {
          // Two quotes inside quotes: one literal quote, and the quoted part ends.
          arg += '"';
          ++i;
          quoted = false;
        } else {
          quoted = !quoted;
        }
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace qyr
