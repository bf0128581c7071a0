// The recording switch and the recorder's checks; see RecorderSwitch.h. Cold code, built for
// size: it runs once per binding, and its trust checks only while the switch is on.
#include "platform/win32/RecorderSwitch.h"

#include <windows.h>
// After windows.h.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/RecorderTrust.h"
#include "platform/UniqueResource.h"
#include "platform/win32/ModulePath.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {
namespace {

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

using UniqueModule = UniqueResource<HMODULE, CloseWith<&FreeLibrary>>;

UniqueModule SystemLibrary(const wchar_t* name) {
  return UniqueModule(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

template <class Function>
Function Proc(const UniqueModule& module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module.Get(), name)));
}

// WinVerifyTrust's answer for `file`: 0 when the system trusts its signature. Revocation is not
// checked: that would go to the network each time the library is bound.
LONG Trust(decltype(&WinVerifyTrust) verify, const std::wstring& file) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = file.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG answer = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return answer;
}

bool Openable(const std::wstring& file) {
  const UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(handle);
}

// What the system's trust libraries say of `file`'s signature. Unreadable unless shown otherwise:
// a missing entry point, a file that cannot be opened or a signer that cannot be found or does not
// check out all leave it so, and the decision refuses on it.
SignatureFacts ReadSignature(const std::wstring& file) {
  SignatureFacts facts;
  const UniqueModule crypt = SystemLibrary(L"crypt32.dll");
  const UniqueModule trust = SystemLibrary(L"wintrust.dll");
  auto query = Proc<decltype(&CryptQueryObject)>(crypt, "CryptQueryObject");
  auto signerOf = Proc<decltype(&CryptMsgGetAndVerifySigner)>(crypt, "CryptMsgGetAndVerifySigner");
  auto encode = Proc<decltype(&CryptEncodeObject)>(crypt, "CryptEncodeObject");
  auto freeCert = Proc<decltype(&CertFreeCertificateContext)>(crypt, "CertFreeCertificateContext");
  auto closeStore = Proc<decltype(&CertCloseStore)>(crypt, "CertCloseStore");
  auto closeMsg = Proc<decltype(&CryptMsgClose)>(crypt, "CryptMsgClose");
  auto verify = Proc<decltype(&WinVerifyTrust)>(trust, "WinVerifyTrust");
  if (!query || !signerOf || !encode || !freeCert || !closeStore || !closeMsg || !verify) {
    return facts;
  }
  const LONG trusted = Trust(verify, file);
  facts.verifies = trusted == ERROR_SUCCESS;

  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!query(CERT_QUERY_OBJECT_FILE, file.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
             CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
             nullptr)) {
    // Unsigned only when the file opens and both libraries find no signature in it: a file that
    // cannot be read is not taken for an unsigned one.
    const DWORD error = GetLastError();
    if (error == static_cast<DWORD>(CRYPT_E_NO_MATCH) &&
        trusted == static_cast<LONG>(TRUST_E_NOSIGNATURE) && Openable(file)) {
      facts.read = SignatureRead::Absent;
    }
    return facts;
  }
  const ScopeExit closeQueried([&] {
    closeMsg(message);
    closeStore(store, 0);
  });
  // The first signer, the one WinVerifyTrust judges, found among the file's certificates and
  // taken only when the signature checks out against its key: the key compared is the key that
  // signed.
  PCCERT_CONTEXT signer = nullptr;
  DWORD index = 0;
  if (!signerOf(message, 0, nullptr, CMSG_USE_SIGNER_INDEX_FLAG, &signer, &index)) return facts;
  const ScopeExit freeSigner([&] { freeCert(signer); });
  const CERT_PUBLIC_KEY_INFO* key = &signer->pCertInfo->SubjectPublicKeyInfo;
  DWORD size = 0;
  if (!encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, nullptr, &size) || size == 0) {
    return facts;
  }
  std::vector<std::uint8_t> bytes(size);
  if (!encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, bytes.data(), &size)) return facts;
  bytes.resize(size);
  facts.signerKey = std::move(bytes);
  facts.read = SignatureRead::Read;
  return facts;
}

}  // namespace

bool RecordingSwitchedOn() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SupportKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS) {
    return false;
  }
  const UniqueKey key(raw);
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof value;
  return RegQueryValueExW(key.Get(), RecordingValue, nullptr, &type,
                          reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && value == 1;
}

std::wstring RecorderPathBesideProgram() {
  std::wstring path = ExecutablePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return path.substr(0, slash + 1) + RecorderFileName;
}

RecorderVerdict RecorderSigning(const std::wstring& program, const std::wstring& file) {
  const SignatureFacts ours = ReadSignature(program);
  // An unsigned program takes any recorder: the recorder's signature need not be read.
  if (ours.read == SignatureRead::Absent) return RecorderVerdict::Allowed;
  return JudgeRecorder(ours, ReadSignature(file));
}

std::wstring RecorderToBind() {
  if (!RecordingSwitchedOn()) return {};
  std::wstring recorder = RecorderPathBesideProgram();
  const DWORD attributes = GetFileAttributesW(recorder.c_str());
  if (recorder.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return {};
  }
  if (RecorderSigning(ExecutablePath(), recorder) != RecorderVerdict::Allowed) return {};
  return recorder;
}

}  // namespace platform::win32
