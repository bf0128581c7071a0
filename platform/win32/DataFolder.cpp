// The data folder and files opened without following links; see DataFolder.h.
#include "platform/win32/DataFolder.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

constexpr wchar_t LogsLeaf[] = L"Logs";
constexpr wchar_t SupportLeaf[] = L"support";
constexpr wchar_t TrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// FOLDERID_ProgramData.
constexpr GUID ProgramDataId = {
    0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
  const HMODULE loaded = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return loaded ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)))
                : nullptr;
}

// The machine's ProgramData folder as the system records it, not as the environment says (whoever
// starts the program chooses that): the profile list's entry, which only administrators may
// change, with its one variable on Windows, %SystemDrive%, taken from the system folder's drive.
// An entry that is missing or holds anything else is left to the shell, whose shell32 and ole32
// are large: loading them cost more than all the rest of a `status` run.
std::wstring ProgramData() {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) == ERROR_SUCCESS) {
    const UniqueKey profiles(raw);
    wchar_t value[MAX_PATH + 1] = L"";
    DWORD type = 0;
    DWORD size = sizeof value - sizeof value[0];  // room left for the terminator
    if (RegQueryValueExW(profiles.Get(), L"ProgramData", nullptr, &type,
                         reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::wstring folder(value, wcsnlen(value, size / sizeof value[0]));
      constexpr wchar_t SystemDrive[] = L"%SystemDrive%";
      constexpr int SystemDriveLength = static_cast<int>(std::size(SystemDrive)) - 1;
      wchar_t system[MAX_PATH] = L"";
      const UINT systemLength = GetSystemWindowsDirectoryW(system, MAX_PATH);
      if (folder.size() > SystemDriveLength &&
          CompareStringOrdinal(folder.c_str(), SystemDriveLength, SystemDrive, SystemDriveLength,
                               TRUE) == CSTR_EQUAL &&
          systemLength >= 2 && systemLength < MAX_PATH && system[1] == L':') {
        folder.replace(0, SystemDriveLength, system, 2);
      }
      // A full path on a drive, with nothing left to expand.
      if (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\' &&
          folder.find(L'%') == std::wstring::npos) {
        return folder;
      }
    }
  }
  // The types from the declarations themselves, calling convention included.
  const auto get =
      SystemFunction<decltype(&SHGetKnownFolderPath)>(L"shell32.dll", "SHGetKnownFolderPath");
  const auto free = SystemFunction<decltype(&CoTaskMemFree)>(L"ole32.dll", "CoTaskMemFree");
  wchar_t* path = nullptr;
  if (!get || !free || FAILED(get(ProgramDataId, 0, nullptr, &path)) || !path) return {};
  std::wstring folder(path);
  free(path);
  return folder;
}

// `path` as a full path with long names, the way a final path reads.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  std::wstring longer(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
  const DWORD length =
      GetLongPathNameW(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
  if (length == 0 || length >= longer.size()) return full;
  longer.resize(length);
  return longer;
}

// Where the handle's file really is, as a drive path (\\?\ and \\?\UNC\ taken off).
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(GetFinalPathNameByHandleW(handle, nullptr, 0, 0), L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The SID's text, S-1-...: made here, asking no one.
std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  const UniqueLocalMemory owned(text);
  return WideToUtf8(text);
}

// The account's DOMAIN\name. A lookup may ask a domain controller and wait for it: only a name a
// message gives is looked up.
std::string NameOf(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return WideToUtf8(domainSize ? std::wstring(domain) + L"\\" + name : std::wstring(name));
  }
  return SidText(sid);
}

// The account the process runs as, a TOKEN_USER; empty when the token cannot be read.
std::vector<BYTE> RunningUser() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
  const UniqueHandle token(opened);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) {
    return {};
  }
  return user;
}

// Sorts SIDs into trustees: the running account counts only while it runs with administrator
// rights (its own files are then its administrators' to begin with; under Wine every file is
// the running account's).
class Trustees {
 public:
  Trustees() : user_(RunningUser()) {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    BOOL member = FALSE;
    if (user_.empty() ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) ||
        !CheckTokenMembership(nullptr, administrators, &member) || !member) {
      user_.clear();
    }
  }
  Trustee Of(PSID sid) const {
    if (IsWellKnownSid(sid, WinLocalSystemSid)) return Trustee::System;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Trustee::Administrators;
    if (IsWellKnownSid(sid, WinCreatorOwnerSid)) return Trustee::CreatorOwner;
    if (!user_.empty() &&
        EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid)) {
      return Trustee::RunningAccount;
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return Trustee::Other;
    const UniqueLocalMemory owned(text);
    return lstrcmpiW(text, TrustedInstallerSid) == 0 ? Trustee::TrustedInstaller : Trustee::Other;
  }

 private:
  std::vector<BYTE> user_;
};

// Reads the access list's entries: allowing and denying ones by their trustee; an allowing one of
// another layout (object entries) as a writer of an unknown kind.
void ReadEntries(const ACL& dacl, const Trustees& trustees, std::vector<AccessEntry>& entries) {
  for (DWORD i = 0; i < dacl.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(&dacl), i, &ace)) continue;
    const BYTE type = static_cast<const ACE_HEADER*>(ace)->AceType;
    const auto* simple = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    AccessEntry entry;
    entry.mask = simple->Mask;
    if (type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
        type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      const PSID sid = const_cast<DWORD*>(&simple->SidStart);
      entry.who = trustees.Of(sid);
      entry.allows = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
      // Only an entry that lets another change the folder is ever named in a message (see
      // OthersWhoMayChange); the rest keep their SID's text and cost no lookup.
      if (entry.who == Trustee::Other) {
        entry.name = entry.allows && (entry.mask & ChangeRights) != 0 ? NameOf(sid) : SidText(sid);
      }
    } else if (type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
               type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE) {
      entry.name = "an access entry of type " + std::to_string(type);
    } else {
      continue;
    }
    entries.push_back(std::move(entry));
  }
}

// Whether the folder's access list lets in anyone but SYSTEM, Administrators, TrustedInstaller
// and the running account (an earlier version let Users read the logs).
bool OpenToOthers(const FolderFacts& facts) {
  for (const AccessEntry& entry : facts.entries) {
    if (entry.allows && entry.mask != 0 &&
        (entry.who == Trustee::Other || entry.who == Trustee::CreatorOwner)) {
      return true;
    }
  }
  return false;
}

// Gives `folder` the access list of `descriptor`, protected from above; the entries the files
// inside inherited are replaced with it. Empty when done, else why not.
std::string Narrow(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) {
    return SystemErrorText(GetLastError());
  }
  const UniqueFile handle(
      CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC, ShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return SystemErrorText(GetLastError());
  const DWORD status = SetSecurityInfo(
      handle.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  return status == ERROR_SUCCESS ? std::string() : SystemErrorText(status);
}

// A descriptor made from its text form, owned.
UniqueLocalMemory Descriptor(const wchar_t* text, std::string& error) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    error = "cannot make the data folder's security: " + SystemErrorText(GetLastError());
  }
  return UniqueLocalMemory(descriptor);
}

}  // namespace

std::string SystemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocalMemory owned(text);
  std::string message =
      length ? WideToUtf8(std::wstring_view(text, length)) : "error " + std::to_string(error);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

bool ReadFolderFacts(const std::wstring& folder, FolderFacts& facts, std::string& error) {
  facts = FolderFacts{};
  facts.path = WideToUtf8(folder);
  const UniqueFile handle(CreateFileW(
      folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !GetFileInformationByHandle(handle.Get(), &info)) {
    error = "cannot read " + facts.path + ": " + SystemErrorText(GetLastError());
    return false;
  }
  // Wine marks a folder link by its attributes, not the handle's: both are asked.
  DWORD attributes = info.dwFileAttributes;
  const DWORD byName = GetFileAttributesW(folder.c_str());
  if (byName != INVALID_FILE_ATTRIBUTES) attributes |= byName;
  facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               !SamePath(FinalPath(handle.Get()), FullPath(folder));
  if (!facts.link && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = facts.path + " is a file, not a folder";
    return false;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, &descriptor);
  const UniqueLocalMemory ownedDescriptor(descriptor);
  if (status != ERROR_SUCCESS || !owner) {
    error = "cannot read who may change " + facts.path + ": " + SystemErrorText(status);
    return false;
  }
  const Trustees trustees;
  facts.owner = trustees.Of(owner);
  if (facts.owner == Trustee::Other) facts.ownerName = NameOf(owner);
  facts.hasDacl = dacl != nullptr;
  if (dacl) ReadEntries(*dacl, trustees, facts.entries);
  return true;
}

std::wstring RecordingsFolder(std::string& error) { return DataFolder(L"recordings", error); }

std::wstring DataFolder(const wchar_t* leaf, std::string& error) {
  std::wstring folder = ProgramData();
  if (folder.empty()) {
    error = "the ProgramData folder is not known";
    return {};
  }
  for (const wchar_t* part : {L"Flashwright", leaf}) {
    // Support's archives hold the logs: as closed as they are.
    const bool logs =
        part == leaf && (lstrcmpiW(leaf, LogsLeaf) == 0 || lstrcmpiW(leaf, SupportLeaf) == 0);
    const UniqueLocalMemory descriptor =
        Descriptor(logs ? LogsSecurity : DataFolderSecurity, error);
    if (!descriptor) return {};
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
    folder += L"\\";
    folder += part;
    if (!CreateDirectoryW(folder.c_str(), &security) && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = "cannot make " + WideToUtf8(folder) + ": " + SystemErrorText(GetLastError());
      return {};
    }
    // Made now or found, it is checked alike: someone may have made it first.
    FolderFacts facts;
    if (!ReadFolderFacts(folder, facts, error)) return {};
    error = DataFolderRefusal(facts);
    if (!error.empty()) return {};
    // Logs an earlier version let others read are narrowed. Failing that, the logs are still
    // written (no writer waits long for them): the reason goes where a debugger sees it.
    if (logs && OpenToOthers(facts)) {
      if (const std::string why = Narrow(folder, descriptor.Get()); !why.empty()) {
        OutputDebugStringW(Utf8ToWide(facts.path +
                                      " lets others read the logs, and cannot be "
                                      "narrowed to administrators: " +
                                      why + "\n")
                               .c_str());
      }
    }
  }
  return folder;
}

UniqueFile OpenFileNoLink(const std::wstring& path, DWORD access, Creation creation,
                          std::string& error, DWORD* openError) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  const auto open = [&](DWORD disposition) {
    return UniqueFile(
        CreateFileW(path.c_str(), access, ShareAll, nullptr, disposition, flags, nullptr));
  };
  // A file is made only in a folder that is where its name says: through a folder link, even an
  // empty new file would land elsewhere.
  const std::wstring full = FullPath(path);
  const std::size_t separator = full.rfind(L'\\');
  const std::wstring parent = full.substr(0, separator == 2 ? 3 : separator);
  const UniqueFile folder(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (folder && !SamePath(FinalPath(folder.Get()), parent)) {
    error =
        "its folder leads to " + WideToUtf8(FinalPath(folder.Get())) + "; a link is not followed";
    return {};
  }
  UniqueFile file;
  if (creation == Creation::NewOnly) {
    file = open(CREATE_NEW);
  } else {
    // Never OPEN_ALWAYS: through a dangling link it would make the file at the link's far end.
    // A new file is made only where no name is; a name made meanwhile is opened on a second try.
    for (int tries = 0; tries < 2 && !file; ++tries) {
      file = open(OPEN_EXISTING);
      if (file || GetLastError() != ERROR_FILE_NOT_FOUND) break;
      file = open(CREATE_NEW);
      if (file || GetLastError() != ERROR_FILE_EXISTS) break;
    }
  }
  if (!file) {
    const DWORD code = GetLastError();
    if (openError) *openError = code;
    error = SystemErrorText(code);
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
    error = "it is a device, not a file";
  } else if (!GetFileInformationByHandle(file.Get(), &info)) {
    error = SystemErrorText(GetLastError());
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = "it is a link (a reparse point); a link is not followed";
  } else if (info.nNumberOfLinks > 1) {
    error = "it is one file under " + std::to_string(info.nNumberOfLinks) +
            " names (hard links), and another name may be someone else's";
  } else if (const std::wstring final = FinalPath(file.Get()); !SamePath(final, full)) {
    error = "it leads to " + WideToUtf8(final) + "; a link is not followed";
  } else {
    return file;
  }
  return {};
}

bool StillNamed(HANDLE file, const std::wstring& path) {
  const UniqueFile named(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION held{}, now{};
  return named && GetFileInformationByHandle(file, &held) &&
         GetFileInformationByHandle(named.Get(), &now) &&
         held.dwVolumeSerialNumber == now.dwVolumeSerialNumber &&
         held.nFileIndexHigh == now.nFileIndexHigh && held.nFileIndexLow == now.nFileIndexLow;
}

std::string RunningAccountName() {
  const std::vector<BYTE> user = RunningUser();
  if (user.empty()) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  // Accounts of this computer and the well-known ones are named from what the computer holds
  // itself; only an account of a domain (S-1-5-21-..., not this computer's) would take a lookup
  // that may ask a domain controller.
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const bool numbered = *GetSidSubAuthorityCount(sid) >= 4 &&
                        std::memcmp(GetSidIdentifierAuthority(sid), &nt, sizeof nt) == 0 &&
                        *GetSidSubAuthority(sid, 0) == SECURITY_NT_NON_UNIQUE;
  if (!numbered) return NameOf(sid);
  LSA_OBJECT_ATTRIBUTES attributes{};
  LSA_HANDLE policy = nullptr;
  if (LsaOpenPolicy(nullptr, &attributes, POLICY_VIEW_LOCAL_INFORMATION, &policy) != 0) {
    return SidText(sid);
  }
  // The local policy's account domain (this computer's) and primary domain, each a name and a SID
  // in the same layout; the logon session's own user name (GetUserName asks no one).
  std::string name;
  for (const POLICY_INFORMATION_CLASS domain :
       {PolicyAccountDomainInformation, PolicyPrimaryDomainInformation}) {
    void* info = nullptr;
    if (LsaQueryInformationPolicy(policy, domain, &info) != 0 || info == nullptr) continue;
    const auto* facts = static_cast<const POLICY_ACCOUNT_DOMAIN_INFO*>(info);
    BOOL equal = FALSE;
    if (name.empty() && facts->DomainSid != nullptr &&
        EqualDomainSid(sid, facts->DomainSid, &equal) && equal) {
      wchar_t userName[257];
      DWORD size = static_cast<DWORD>(std::size(userName));
      if (domain == PolicyAccountDomainInformation) {
        name = NameOf(sid);
      } else if (GetUserNameW(userName, &size)) {
        name = WideToUtf8(
            std::wstring(facts->DomainName.Buffer, facts->DomainName.Length / sizeof(wchar_t)) +
            L"\\" + userName);
      }
    }
    LsaFreeMemory(info);
  }
  LsaClose(policy);
  // A trusted domain's account: its domain's name would be a domain controller's to give.
  return name.empty() ? SidText(sid) : name;
}

}  // namespace platform::win32
