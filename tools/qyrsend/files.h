#pragma once
// Files that keygen writes: new ones only, never one that is there already.
#include <string>
#include <string_view>

namespace qyrsend::files {

// Creates `utf8_path` with `bytes`; with `owner_only` nobody but its owner may read it (mode 0600
// on Linux, an access list of the owner alone on Windows). Fails, leaving it alone, when it
// exists. Empty when written, else the reason.
std::string WriteNew(const std::string& utf8_path, std::string_view bytes, bool owner_only);

// Whether something of that name exists (a file, a folder, a dangling link).
bool Exists(const std::string& utf8_path);

// Whether nobody but its owner (and on Windows the system and administrators, who may read any
// file) may read the existing file.
bool OwnerOnly(const std::string& utf8_path);
// How a user makes a file so.
extern const std::string_view kMakeOwnerOnly;

// Removes a file written by WriteNew, when what follows it failed.
void Remove(const std::string& utf8_path);

}  // namespace qyrsend::files
