#pragma once
// Functions of system DLLs bound at their first call. A DLL that a run may never need (the file
// dialog's, the signature check's) is then not loaded at start, and costs no memory until used;
// under Wine the two bring in the printing system and a TLS library. Only the system folder is
// searched, so no DLL beside the program can stand in for them.
#include <windows.h>
#include <bcrypt.h>

namespace qyr {

// The DLL, loaded once; nullptr when it cannot be.
HMODULE SystemModule(const wchar_t* dll);

// `name` of `dll` as a function of type F; nullptr when either is missing.
template <class F>
F* SystemFunction(const wchar_t* dll, const char* name) {
  const HMODULE module = SystemModule(dll);
  if (!module) return nullptr;
  // The documented way from GetProcAddress's generic type to the function's own.
  return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The CNG calls of the signature check, each failing with STATUS_PROCEDURE_NOT_FOUND when the
// system has no bcrypt.dll.
namespace cng {
NTSTATUS OpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                               ULONG flags);
NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS ImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE import_key, LPCWSTR type,
                       BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG size, ULONG flags);
NTSTATUS DestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS VerifySignature(BCRYPT_KEY_HANDLE key, void* padding, PUCHAR hash, ULONG hash_size,
                         PUCHAR signature, ULONG signature_size, ULONG flags);
NTSTATUS CreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR object,
                    ULONG object_size, PUCHAR secret, ULONG secret_size, ULONG flags);
NTSTATUS HashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags);
NTSTATUS FinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags);
NTSTATUS DestroyHash(BCRYPT_HASH_HANDLE hash);
NTSTATUS GenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG size, ULONG flags);
}  // namespace cng

}  // namespace qyr
