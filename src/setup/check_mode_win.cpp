#include "setup/check_mode_win.h"

#include <windows.h>
// after <windows.h>, which they need
#include <optional>
#include <string>
#include <vector>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "setup/check_mode.h"

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

namespace qyr {

namespace {

// A settings file's bytes; nothing when it cannot be read or is far larger than any such file.
std::optional<std::string> ReadSettingsFile(const std::string& path) {
  constexpr DWORD kMostBytes = 1024 * 1024;
  const UniqueFile file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMostBytes) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

// Owner Administrators; Administrators and SYSTEM full control, Users read and execute, for the
// folder and what is made in it; nothing inherited from above: the rights of a new folder.
constexpr wchar_t kTakenOverRights[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

// The installer reads a pipe in the ANSI code page; a console takes UTF-16 as it is.
void WriteLine(const std::string& line) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;  // the exit code still answers
  const std::wstring wide = Utf8ToWide(line) + L"\r\n";
  const int units = static_cast<int>(wide.size());
  DWORD written = 0;
  if (GetFileType(out) == FILE_TYPE_CHAR &&
      WriteConsoleW(out, wide.data(), static_cast<DWORD>(units), &written, nullptr)) {
    return;
  }
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), units, bytes.data(), n, nullptr, nullptr);
  // Not looked at: a reader that went away leaves no one to tell.
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Answer(const CheckOutcome& outcome) {
  for (const std::string& line : outcome.lines) WriteLine(line);
  return outcome.exit_code;
}

std::string SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory owner(text);
  return WideToUtf8(text);
}

// The administrator running the check, and the accounts the Administrators group lists.
TrustedSids TrustedAccounts() {
  TrustedSids trusted;
  HANDLE raw_token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    const KernelHandle token(raw_token);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size != 0 && GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
      trusted.push_back(SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid));
    }
  }
  // The group is looked up by its SID: its name depends on the language of Windows.
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD admins_size = sizeof(admins);
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size) ||
      !LookupAccountSidW(nullptr, admins, name, &name_size, domain, &domain_size, &use)) {
    return trusted;
  }
  BYTE* raw_members = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  if (NetLocalGroupGetMembers(nullptr, name, 0, &raw_members, MAX_PREFERRED_LENGTH, &read, &total,
                              nullptr) == NERR_Success) {
    const auto* members = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(raw_members);
    for (DWORD i = 0; i < read; ++i) trusted.push_back(SidText(members[i].lgrmi0_sid));
  }
  if (raw_members != nullptr) NetApiBufferFree(raw_members);
  return trusted;
}

FolderFacts ReadFolderFacts(const std::string& path) {
  FolderFacts facts;
  facts.path = path;
  const std::wstring wide = Utf8ToWide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) facts.error = error;
    return facts;
  }
  facts.exists = true;
  facts.is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.reparse_point = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (facts.reparse_point) return facts;  // refused whatever its rights
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_sd = nullptr;
  const DWORD error = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &raw_sd);
  const LocalMemory sd(raw_sd);
  if (error != ERROR_SUCCESS) {
    facts.error = error;
    return facts;
  }
  facts.owner = SidText(owner);
  facts.has_access_list = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* raw_ace = nullptr;
    if (!GetAce(dacl, i, &raw_ace)) {
      facts.error = GetLastError();
      break;
    }
    const auto* header = static_cast<const ACE_HEADER*>(raw_ace);
    AccessEntry entry;
    entry.inherit_only = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    entry.kind = AccessEntry::Kind::kOther;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      entry.kind = AccessEntry::Kind::kAllow;
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
               header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      entry.kind = AccessEntry::Kind::kDeny;
    }
    if (entry.kind != AccessEntry::Kind::kOther) {
      // Allowed and denied entries, with or without a condition, share this layout.
      auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw_ace);
      entry.mask = ace->Mask;
      entry.sid = SidText(&ace->SidStart);
    }
    facts.entries.push_back(entry);
  }
  return facts;
}

std::vector<FolderFacts> ReadPathFacts(const std::string& path) {
  std::vector<FolderFacts> facts;
  for (const std::string& folder : FoldersBelowRoot(path)) facts.push_back(ReadFolderFacts(folder));
  return facts;
}

// ".." and "/" resolved as the file system will resolve them.
std::string FullPath(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(got < n ? got : 0);
  return full.empty() ? path : WideToUtf8(full);
}

void EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES wanted = {};
  if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) return;
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Not looked at: without the privilege the open below fails and says so.
  AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
}

// Sets the owner and rights through one handle of the folder itself, opened so that a link put in
// its place is not followed: what was judged is what changes.
DWORD TakeOverFolder(const std::string& path) {
  HANDLE raw_token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw_token)) {
    const KernelHandle token(raw_token);
    // Whatever the folder's rights say, an administrator may take ownership and set rights.
    EnablePrivilege(token.get(), SE_TAKE_OWNERSHIP_NAME);
    EnablePrivilege(token.get(), SE_RESTORE_NAME);
  }
  const UniqueFile folder(
      CreateFileW(Utf8ToWide(path).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(folder.get(), &info)) return GetLastError();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return ERROR_CANT_ACCESS_FILE;
  }
  PSECURITY_DESCRIPTOR raw_sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kTakenOverRights, SDDL_REVISION_1,
                                                            &raw_sd, nullptr)) {
    return GetLastError();
  }
  const LocalMemory sd(raw_sd);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  GetSecurityDescriptorOwner(raw_sd, &owner, &defaulted);
  GetSecurityDescriptorDacl(raw_sd, &present, &dacl, &defaulted);
  return SetSecurityInfo(
      folder.get(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
}

// Refused or passed as found; otherwise the folders are taken over and the path judged again.
CheckOutcome SecureFolder(const std::string& path, const TrustedSids& trusted) {
  CheckOutcome outcome = JudgeFolders(path, ReadPathFacts(path), trusted);
  if (outcome.exit_code != kCheckTakeOver) return outcome;
  for (const std::string& folder : outcome.take_over) {
    outcome.lines.push_back(TakeOverLine(folder, TakeOverFolder(folder)));
  }
  return AfterTakeOver(std::move(outcome), JudgeFolders(path, ReadPathFacts(path), trusted));
}

}  // namespace

int RunCheckMode(const CheckRequest& request) {
  if (request.error != CheckArgsError::kNone) return Answer(ArgsErrorOutcome(request));
  switch (request.mode) {
    case CheckMode::kAllow:
      return Answer(CheckAllowList(request.value));
    case CheckMode::kFolder: {
      const std::string path = FullPath(request.value);
      return Answer(JudgeFolders(path, ReadPathFacts(path), TrustedAccounts()));
    }
    case CheckMode::kSecureFolder:
      return Answer(SecureFolder(FullPath(request.value), TrustedAccounts()));
    case CheckMode::kPower:
      return Answer(CheckPowerClock(request.value, request.days, request.reboot_at.value_or("")));
    case CheckMode::kKey:
      return Answer(CheckHallKey(request.value));
    case CheckMode::kIni: {
      const std::optional<std::string> text = ReadSettingsFile(request.value);
      if (!text) {
        CheckOutcome unreadable;
        unreadable.exit_code = kCheckRefused;
        unreadable.lines.push_back("cannot read the settings file \"" + request.value +
                                   "\" (missing, not a file, or over 1 MB)");
        return Answer(unreadable);
      }
      return Answer(CheckSettingsFile(*text));
    }
    case CheckMode::kNone:
    case CheckMode::kUnknown:
      break;
  }
  return Answer(ArgsErrorOutcome(request));
}

}  // namespace qyr
