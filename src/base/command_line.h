#pragma once
// Command lines as a Windows program reads them (the rules of CommandLineToArgvW): quoting
// arguments so that each comes back whole, and splitting a command line into its arguments.
// Only blanks, tabs, quotes and backslashes are special, so UTF-8 passes through byte for byte.
#include <string>
#include <string_view>
#include <vector>

namespace qyr {

// One argument as it must stand in a command line to be read back unchanged: as it is when it
// has no blank, tab, line break or quote (and is not empty); otherwise in quotes, with each quote
// escaped and the backslashes before a quote (or before the closing quote) doubled.
std::string QuoteArgument(std::string_view arg);

// The arguments quoted as needed and joined by single blanks.
std::string JoinArguments(const std::vector<std::string>& args);

// A whole command line, program name first, split as CommandLineToArgvW splits it. The program
// name ends at its closing quote or at the first blank, without any escapes; the arguments after
// it follow the backslash and quote rules. An empty line gives no arguments at all.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace qyr
