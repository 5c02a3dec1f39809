#include <windows.h>
// after <windows.h>, which it needs
#include <vector>

#include "base/handles_win.h"
#include "base/wide_win.h"
#include "files.h"

#include <sddl.h>

namespace qyrsend::files {

namespace {

std::string Reason(DWORD code) { return "Windows error " + std::to_string(code); }

// "D:P(A;;FA;;;<the user's SID>)": full access for the user running qyrsend, nothing inherited,
// nobody else.
std::wstring OwnerOnlyAccess() {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return {};
  const qyr::KernelHandle token(raw_token);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);  // only sizes the buffer
  std::vector<BYTE> buffer(size);
  wchar_t* raw_sid = nullptr;
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &raw_sid)) {
    return {};
  }
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

void Remove(const std::string& utf8_path) { DeleteFileW(qyr::Utf8ToWide(utf8_path).c_str()); }

}  // namespace qyrsend::files
