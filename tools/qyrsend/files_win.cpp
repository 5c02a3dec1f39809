#include <windows.h>
// after <windows.h>, which it needs
#include <vector>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "files.h"

#include <aclapi.h>
#include <sddl.h>

namespace qyrsend::files {

namespace {

std::string Reason(DWORD code) { return "Windows error " + std::to_string(code); }

// The TOKEN_USER of the user running qyrsend; empty when the system does not say.
std::vector<BYTE> CurrentUser() {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return {};
  const qyr::KernelHandle token(raw_token);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);  // only sizes the buffer
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return {};
  return buffer;
}

PSID SidOf(std::vector<BYTE>& user) { return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }

// "D:P(A;;FA;;;<the user's SID>)": full access for the user running qyrsend, nothing inherited,
// nobody else.
std::wstring OwnerOnlyAccess() {
  std::vector<BYTE> user = CurrentUser();
  wchar_t* raw_sid = nullptr;
  if (user.empty() || !ConvertSidToStringSidW(SidOf(user), &raw_sid)) return {};
  const qyr::LocalMemory sid(raw_sid);
  return L"D:P(A;;FA;;;" + std::wstring(raw_sid) + L")";
}

}  // namespace

std::string WriteNew(const std::string& utf8_path, std::string_view bytes, bool owner_only) {
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (owner_only) {
    const std::wstring access = OwnerOnlyAccess();
    if (access.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                              access.c_str(), SDDL_REVISION_1, &raw_descriptor, nullptr)) {
      return "no access list for the owner alone (" + Reason(GetLastError()) + ")";
    }
  }
  const qyr::LocalMemory descriptor(raw_descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), raw_descriptor, FALSE};
  const std::wstring path = qyr::Utf8ToWide(utf8_path);
  DWORD failure = 0;
  {
    const qyr::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Reason(GetLastError());
    DWORD written = 0;
    // A key that is not on the disk yet is no key: a power cut would leave an empty file.
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      failure = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
  }
  if (failure == 0) return {};
  DeleteFileW(path.c_str());
  return Reason(failure);
}

bool Exists(const std::string& utf8_path) {
  return GetFileAttributesW(qyr::Utf8ToWide(utf8_path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

const std::string_view kMakeOwnerOnly = "or delete it: the next start makes a new one";

bool OwnerOnly(const std::string& utf8_path) {
  std::vector<BYTE> user = CurrentUser();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (user.empty() || GetNamedSecurityInfoW(qyr::Utf8ToWide(utf8_path).c_str(), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                            nullptr, &raw_descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const qyr::LocalMemory descriptor(raw_descriptor);
  if (!dacl) return false;  // no list at all: everyone may
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw_ace = nullptr;
    if (!GetAce(dacl, i, &raw_ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(raw_ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // Any other kind of grant names whom it lets in in ways not read here.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(raw_ace)->SidStart;
    if (!EqualSid(sid, SidOf(user)) && !IsWellKnownSid(sid, WinLocalSystemSid) &&
        !IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
      return false;
    }
  }
  return true;
}

void Remove(const std::string& utf8_path) { DeleteFileW(qyr::Utf8ToWide(utf8_path).c_str()); }

}  // namespace qyrsend::files
