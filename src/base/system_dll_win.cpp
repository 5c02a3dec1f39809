#include "base/system_dll_win.h"

#include <utility>

namespace qyr {

HMODULE SystemModule(const wchar_t* dll) {
  // Already loaded: no second reference, so however often asked, the count stays one.
  if (const HMODULE loaded = GetModuleHandleW(dll)) return loaded;
  return LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

namespace cng {
namespace {

constexpr NTSTATUS kProcedureNotFound = static_cast<NTSTATUS>(0xC000007A);

template <class F, class... Args>
NTSTATUS Call(const char* name, Args&&... args) {
  F* const function = SystemFunction<F>(L"bcrypt.dll", name);
  return function ? function(std::forward<Args>(args)...) : kProcedureNotFound;
}

}  // namespace

NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                               ULONG flags) {
  return Call<decltype(BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider", algorithm, id,
                                                     implementation, flags);
}
NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  return Call<decltype(BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider", algorithm,
                                                      flags);
}
NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE import_key, LPCWSTR type,
                       BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size, ULONG flags) {
  return Call<decltype(BCryptImportKeyPair)>("BCryptImportKeyPair", algorithm, import_key, type,
                                             key, input, size, flags);
}
NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key) {
  return Call<decltype(BCryptDestroyKey)>("BCryptDestroyKey", key);
}
NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, void* padding, PUCHAR hash, ULONG hash_size,
                         PUCHAR signature, ULONG signature_size, ULONG flags) {
  return Call<decltype(BCryptVerifySignature)>("BCryptVerifySignature", key, padding, hash,
                                               hash_size, signature, signature_size, flags);
}
NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object,
                    ULONG object_size, PUCHAR secret, ULONG secret_size, ULONG flags) {
  return Call<decltype(BCryptCreateHash)>("BCryptCreateHash", algorithm, hash, object, object_size,
                                          secret, secret_size, flags);
}
NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) {
  return Call<decltype(BCryptHashData)>("BCryptHashData", hash, input, size, flags);
}
NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) {
  return Call<decltype(BCryptFinishHash)>("BCryptFinishHash", hash, output, size, flags);
}
NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash) {
  return Call<decltype(BCryptDestroyHash)>("BCryptDestroyHash", hash);
}
NTSTATUS GenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG size, ULONG flags) {
  return Call<decltype(BCryptGenRandom)>("BCryptGenRandom", algorithm, buffer, size, flags);
}

}  // namespace cng
}  // namespace qyr
