// The recording switch and the recorder's checks; see RecorderSwitch.h. Cold code, built for
// size: it runs once per binding, and its trust checks only while the switch is on.
#include "platform/win32/RecorderSwitch.h"

#include <windows.h>
// After windows.h.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

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

// What a file's signature says: none, or whether it verifies and who signed it.
struct Signature {
  bool present = false;
  bool verifies = false;
  std::wstring subject;
};

Signature ReadSignature(const std::wstring& file) {
  Signature signature;
  const UniqueModule crypt = SystemLibrary(L"crypt32.dll");
  auto query = Proc<decltype(&CryptQueryObject)>(crypt, "CryptQueryObject");
  auto param = Proc<decltype(&CryptMsgGetParam)>(crypt, "CryptMsgGetParam");
  auto find = Proc<decltype(&CertFindCertificateInStore)>(crypt, "CertFindCertificateInStore");
  auto name = Proc<decltype(&CertGetNameStringW)>(crypt, "CertGetNameStringW");
  auto freeCert = Proc<decltype(&CertFreeCertificateContext)>(crypt, "CertFreeCertificateContext");
  auto closeStore = Proc<decltype(&CertCloseStore)>(crypt, "CertCloseStore");
  auto closeMsg = Proc<decltype(&CryptMsgClose)>(crypt, "CryptMsgClose");
  if (!query || !param || !find || !name || !freeCert || !closeStore || !closeMsg) {
    // Signatures that cannot be read are taken for a signer no one matches: the recorder is
    // refused rather than bound unchecked.
    signature.present = true;
    return signature;
  }
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!query(CERT_QUERY_OBJECT_FILE, file.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
             CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
             nullptr)) {
    return signature;
  }
  signature.present = true;
  DWORD size = 0;
  if (param(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size > 0) {
    std::string buffer(size, '\0');
    if (param(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
      const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
      CERT_INFO wanted{};
      wanted.Issuer = signer->Issuer;
      wanted.SerialNumber = signer->SerialNumber;
      if (PCCERT_CONTEXT certificate = find(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                            CERT_FIND_SUBJECT_CERT, &wanted, nullptr)) {
        wchar_t text[512] = L"";
        name(certificate, CERT_NAME_RDN_TYPE, 0, nullptr, text, 512);
        signature.subject = text;
        freeCert(certificate);
      }
    }
  }
  closeMsg(message);
  closeStore(store, 0);

  const UniqueModule trust = SystemLibrary(L"wintrust.dll");
  auto verify = Proc<decltype(&WinVerifyTrust)>(trust, "WinVerifyTrust");
  if (verify == nullptr) return signature;
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
  signature.verifies = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data) == 0;
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return signature;
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

std::string SignedAlike(const std::wstring& program, const std::wstring& file) {
  const Signature ours = ReadSignature(program);
  if (!ours.present) return {};
  const Signature theirs = ReadSignature(file);
  if (!theirs.present) return "the programs are signed and the recorder is not";
  if (ours.verifies && !theirs.verifies) return "the recorder's signature does not verify";
  if (theirs.subject.empty() || theirs.subject != ours.subject) {
    return "the recorder is signed by another publisher";
  }
  return {};
}

std::wstring RecorderToBind() {
  if (!RecordingSwitchedOn()) return {};
  std::wstring recorder = RecorderPathBesideProgram();
  const DWORD attributes = GetFileAttributesW(recorder.c_str());
  if (recorder.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return {};
  }
  if (!SignedAlike(ExecutablePath(), recorder).empty()) return {};
  return recorder;
}

}  // namespace platform::win32
