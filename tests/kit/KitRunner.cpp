// kit-runner.exe: runs the Windows test kit from end to end, the same steps on Windows and under
// Wine. Checks it runs elevated and that the PC holds no Flashwright data, runs the unit,
// end-to-end and Windows-only tests as the administrator and the standard-user tests as a temporary
// standard user, removes what the run made, and writes results/junit.xml and results/summary.txt.
// Exit code: 0 every test that ran passed, 1 a test failed, 2 the kit could not run as it should.
#include <windows.h>
// After windows.h:
#include <lm.h>
#include <msi.h>
#include <sddl.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/Text.h"
#include "tests/kit/Results.h"

namespace {

namespace fs = std::filesystem;

constexpr int Passed = 0;
constexpr int TestFailed = 1;
constexpr int CouldNotRun = 2;

// What the product keeps on a PC (platform/win32: AttemptRegistry, StatusRegistry, RecorderSwitch,
// DataFolder, EventLog; the MSIs' upgrade code in packaging/make-msi.py).
constexpr wchar_t ProductKey[] = L"SOFTWARE\\Flashwright";
constexpr wchar_t EventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Flashwright";
constexpr wchar_t UpgradeCode[] = L"{5A0E8C64-3B0B-4F4B-9A35-2E8F3F0C61D7}";
// The machine's certificate stores the fixtures may add test certificates to; a certificate is
// the kit's when its subject names Flashwright.
constexpr const wchar_t* CertificateStores[] = {
    L"Root", L"CA", L"TrustedPublisher", L"My", L"TrustedPeople", L"Disallowed"};
// A program that runs longer than this is ended and counted as failed.
constexpr DWORD ProgramTimeoutMs = 60 * 60 * 1000;

std::string Utf8(const std::wstring& text) { return platform::win32::WideToUtf8(text); }

std::wstring Wide(const std::string& text) { return platform::win32::Utf8ToWide(text); }

std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text != nullptr ? text : L"";
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return Utf8(message) + " (" + std::to_string(code) + ")";
}

void Say(const std::string& line) {
  std::printf("kit: %s\n", line.c_str());
  std::fflush(stdout);
}

const char* WineVersion() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  using Get = const char*(CDECL*)();
  const auto get =
      reinterpret_cast<Get>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  return get != nullptr ? get() : nullptr;
}

std::string Machine() {
  RTL_OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  using Get = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto get = reinterpret_cast<Get>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  std::string windows = "Windows (version unknown)";
  if (get != nullptr && get(&version) == 0) {
    windows = "Windows " + std::to_string(version.dwMajorVersion) + "." +
              std::to_string(version.dwMinorVersion) + " build " +
              std::to_string(version.dwBuildNumber);
  }
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &size);
  std::string machine = Utf8(name) + ", " + windows;
  if (const char* wine = WineVersion()) machine += ", under Wine " + std::string(wine);
  return machine;
}

bool RunsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0 &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

fs::path OwnDir() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return fs::path(path).parent_path();
}

fs::path ProgramData() {
  wchar_t path[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path))) return {};
  return path;
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteAll(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool Exists(const fs::path& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes a file or a folder with everything in it, never following a link: a link is removed
// itself, never what it points to. Empty when it is gone, else why not.
std::string RemoveTree(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((path / L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (std::string error = RemoveTree(path / name); !error.empty()) {
          FindClose(search);
          return error;
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  const BOOL removed = folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  return removed ? std::string() : Utf8(path.wstring()) + ": " + ErrorText(GetLastError());
}

// --- What the PC holds of Flashwright -----------------------------------------------------------

struct Certificate {
  std::wstring store;
  std::vector<BYTE> hash;  // SHA-1
  std::string subject;
};

std::vector<Certificate> KitCertificates() {
  std::vector<Certificate> found;
  for (const wchar_t* storeName : CertificateStores) {
    const HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
        storeName);
    if (store == nullptr) continue;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
      wchar_t subject[512] = L"";
      CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, subject, 512);
      std::wstring lower = subject;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
      if (lower.find(L"flashwright") == std::wstring::npos) continue;
      std::vector<BYTE> hash(20);
      DWORD size = static_cast<DWORD>(hash.size());
      if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash.data(),
                                             &size))
        continue;
      hash.resize(size);
      found.push_back({storeName, hash, Utf8(subject)});
    }
    CertCloseStore(store, 0);
  }
  return found;
}

std::string RemoveCertificate(const Certificate& certificate) {
  const HCERTSTORE store = CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, certificate.store.c_str());
  if (store == nullptr)
    return "the store " + Utf8(certificate.store) + ": " + ErrorText(GetLastError());
  CRYPT_HASH_BLOB blob{static_cast<DWORD>(certificate.hash.size()),
                       const_cast<BYTE*>(certificate.hash.data())};
  std::string error;
  if (PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_SHA1_HASH, &blob, nullptr)) {
    // CertDeleteCertificateFromStore frees the context, whether it succeeds or not.
    if (!CertDeleteCertificateFromStore(found)) error = ErrorText(GetLastError());
  }
  CertCloseStore(store, 0);
  return error.empty() ? error
                       : "certificate \"" + certificate.subject + "\" in " +
                             Utf8(certificate.store) + ": " + error;
}

std::vector<std::wstring> InstalledProducts() {
  std::vector<std::wstring> products;
  for (DWORD index = 0;; ++index) {
    wchar_t code[39] = L"";
    if (MsiEnumRelatedProductsW(UpgradeCode, 0, index, code) != ERROR_SUCCESS) break;
    products.emplace_back(code);
  }
  return products;
}

// Everything the product or the kit's tests leave on a PC, as found at one moment.
struct PcState {
  bool productKey = false;
  bool eventSource = false;
  bool dataFolder = false;
  std::vector<Certificate> certificates;
  std::vector<std::wstring> products;

  static PcState Now(const fs::path& dataFolder) {
    return {KeyExists(ProductKey), KeyExists(EventSourceKey), Exists(dataFolder), KitCertificates(),
            InstalledProducts()};
  }
  std::vector<std::string> Describe(const fs::path& dataFolderPath) const {
    std::vector<std::string> lines;
    if (productKey) lines.push_back("the registry key HKLM\\" + Utf8(ProductKey));
    if (eventSource) lines.push_back("the event source HKLM\\" + Utf8(EventSourceKey));
    if (dataFolder) lines.push_back("the data folder " + Utf8(dataFolderPath.wstring()));
    for (const Certificate& c : certificates) {
      lines.push_back("the certificate \"" + c.subject + "\" in the machine's " + Utf8(c.store) +
                      " store");
    }
    for (const std::wstring& code : products)
      lines.push_back("the installed product " + Utf8(code));
    return lines;
  }
};

bool SameCertificate(const Certificate& a, const Certificate& b) {
  return a.store == b.store && a.hash == b.hash;
}

// Removes what is in `now` and was not in `before`; returns what could not be removed.
std::vector<std::string> RemoveWhatTheRunMade(const PcState& before, const fs::path& dataFolder) {
  std::vector<std::string> left;
  // Products first: uninstalling takes their event source and empty folders with them.
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  for (const std::wstring& code : InstalledProducts()) {
    if (std::find(before.products.begin(), before.products.end(), code) != before.products.end())
      continue;
    const UINT result = MsiConfigureProductExW(code.c_str(), INSTALLLEVEL_DEFAULT,
                                               INSTALLSTATE_ABSENT, L"REBOOT=ReallySuppress");
    if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED) {
      left.push_back("the installed product " + Utf8(code) + ": " + ErrorText(result));
    }
  }
  if (!before.productKey) {
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProductKey);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      left.push_back("HKLM\\" + Utf8(ProductKey) + ": " + ErrorText(static_cast<DWORD>(status)));
    } else if (status == ERROR_SUCCESS) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, ProductKey);
    }
  }
  if (!before.eventSource) {
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, EventSourceKey);
    if (status == ERROR_SUCCESS) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
    } else if (status != ERROR_FILE_NOT_FOUND) {
      left.push_back("HKLM\\" + Utf8(EventSourceKey) + ": " +
                     ErrorText(static_cast<DWORD>(status)));
    }
  }
  if (!before.dataFolder) {
    if (std::string error = RemoveTree(dataFolder); !error.empty()) left.push_back(error);
  }
  for (const Certificate& certificate : KitCertificates()) {
    const bool found =
        std::any_of(before.certificates.begin(), before.certificates.end(),
                    [&](const Certificate& c) { return SameCertificate(c, certificate); });
    if (found) continue;
    if (std::string error = RemoveCertificate(certificate); !error.empty()) left.push_back(error);
  }
  return left;
}

// --- Running the test programs -------------------------------------------------------------------

std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

std::wstring CommandLine(const fs::path& program, const std::vector<std::wstring>& arguments) {
  std::wstring line = Quote(program.wstring());
  for (const std::wstring& argument : arguments) line += L" " + Quote(argument);
  return line;
}

struct Finished {
  bool started = false;
  DWORD exitCode = 0;
  bool timedOut = false;
  std::string error;  // why it did not start
};

// Runs `program` in its own folder, its output (both streams) into `log`, in a job object so that
// whatever it starts ends with it.
Finished Run(const fs::path& program, const std::vector<std::wstring>& arguments,
             const fs::path& log) {
  Finished finished;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    finished.error = "cannot write " + Utf8(log.wstring()) + ": " + ErrorText(GetLastError());
    return finished;
  }
  const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::wstring line = CommandLine(program, arguments);
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  const std::wstring folder = program.parent_path().wstring();
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr, folder.c_str(),
                      &startup, &process)) {
    finished.error = "cannot start " + Utf8(program.wstring()) + ": " + ErrorText(GetLastError());
  } else {
    if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    finished.started = true;
    if (WaitForSingleObject(process.hProcess, ProgramTimeoutMs) == WAIT_TIMEOUT) {
      finished.timedOut = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &finished.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (job != nullptr) CloseHandle(job);  // ends what the program left running
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  CloseHandle(output);
  return finished;
}

// --- The temporary standard user -----------------------------------------------------------------

std::wstring RandomText(std::size_t length, const wchar_t* alphabet) {
  HCRYPTPROV provider = 0;
  std::vector<BYTE> bytes(length);
  const bool random = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                           CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                      CryptGenRandom(provider, static_cast<DWORD>(length), bytes.data());
  if (provider != 0) CryptReleaseContext(provider, 0);
  if (!random) return {};
  const std::size_t size = std::char_traits<wchar_t>::length(alphabet);
  std::wstring text;
  for (const BYTE b : bytes) text += alphabet[b % size];
  return text;
}

class StandardUser {
 public:
  StandardUser() = default;
  StandardUser(const StandardUser&) = delete;
  StandardUser& operator=(const StandardUser&) = delete;
  ~StandardUser() { Remove(); }

  // Makes the account: a local user with a random password, member of Users only.
  std::string Make() {
    const std::wstring suffix = RandomText(6, L"abcdefghijklmnopqrstuvwxyz0123456789");
    const std::wstring secret =
        RandomText(24, L"ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789");
    if (suffix.empty() || secret.empty()) return "no random numbers: " + ErrorText(GetLastError());
    name_ = L"fwkit-" + suffix;
    // Every class of character, whatever the password policy asks for.
    password_ = secret + L"a7Z!";
    USER_INFO_1 info{};
    info.usri1_name = name_.data();
    info.usri1_password = password_.data();
    info.usri1_priv = USER_PRIV_USER;
    std::wstring comment = L"Temporary user of the Flashwright test kit; it removes it";
    info.usri1_comment = comment.data();
    info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD | UF_PASSWD_CANT_CHANGE;
    DWORD badField = 0;
    const NET_API_STATUS status =
        NetUserAdd(nullptr, 1, reinterpret_cast<LPBYTE>(&info), &badField);
    if (status != NERR_Success) {
      name_.clear();
      return "NetUserAdd: " + ErrorText(status);
    }
    made_ = true;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    LPWSTR text = nullptr;
    if (!LookupAccountNameW(nullptr, name_.c_str(), sid, &sidSize, domain, &domainSize, &use) ||
        !ConvertSidToStringSidW(sid, &text)) {
      return "the new user's SID: " + ErrorText(GetLastError());
    }
    sid_ = text;
    LocalFree(text);
    return {};
  }

  const std::wstring& Name() const { return name_; }
  const std::wstring& Sid() const { return sid_; }

  // Runs `command` through cmd.exe as the user, its output into `log` (a file the user may write),
  // in `folder`.
  Finished Run(const std::wstring& command, const fs::path& folder, const fs::path& log) {
    Finished finished;
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    const fs::path cmd = fs::path(system) / L"cmd.exe";
    std::wstring line =
        Quote(cmd.wstring()) + L" /d /c \"" + command + L" > " + Quote(log.wstring()) + L" 2>&1\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessWithLogonW(name_.c_str(), L".", password_.c_str(), LOGON_WITH_PROFILE,
                                 cmd.c_str(), line.data(), CREATE_UNICODE_ENVIRONMENT, nullptr,
                                 folder.c_str(), &startup, &process)) {
      finished.error = "CreateProcessWithLogonW: " + ErrorText(GetLastError());
      return finished;
    }
    finished.started = true;
    if (WaitForSingleObject(process.hProcess, ProgramTimeoutMs) == WAIT_TIMEOUT) {
      finished.timedOut = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &finished.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return finished;
  }

  // Deletes the profile, then the account; empty when both are gone, else what is left.
  std::string Remove() {
    if (!made_) return {};
    std::string left;
    if (!sid_.empty()) {
      using DeleteProfile = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR);
      const HMODULE userenv = LoadLibraryExW(L"userenv.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
      const auto deleteProfile = userenv != nullptr
                                     ? reinterpret_cast<DeleteProfile>(reinterpret_cast<void*>(
                                           GetProcAddress(userenv, "DeleteProfileW")))
                                     : nullptr;
      // The logon service lets go of the profile a little after the user's last process ends.
      DWORD error = ERROR_PROC_NOT_FOUND;
      for (int attempt = 0; deleteProfile != nullptr && attempt < 20; ++attempt) {
        if (deleteProfile(sid_.c_str(), nullptr, nullptr)) {
          error = ERROR_SUCCESS;
          break;
        }
        error = GetLastError();
        // No profile was ever made: nothing to delete.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) break;
        Sleep(500);
      }
      if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND &&
          error != ERROR_PATH_NOT_FOUND) {
        left = "the profile of " + Utf8(name_) + ": " + ErrorText(error);
      }
    }
    if (const NET_API_STATUS status = NetUserDel(nullptr, name_.c_str()); status != NERR_Success) {
      left += (left.empty() ? "" : "; ") + ("the user " + Utf8(name_) + ": " + ErrorText(status));
    }
    made_ = false;
    SecureZeroMemory(password_.data(), password_.size() * sizeof(wchar_t));
    return left;
  }

 private:
  bool made_ = false;
  std::wstring name_;
  std::wstring password_;
  std::wstring sid_;
};

// A folder only SYSTEM and Administrators may change, that `sid` may read (and write in its `out`
// folder): the copy of the kit the standard user runs from, since a kit unpacked in an
// administrator's profile is closed to other users.
std::string MakeUserFolder(const fs::path& folder, const std::wstring& sid) {
  const std::wstring readable =
      L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;" + sid + L")";
  const std::wstring writable =
      L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;" + sid + L")";
  for (const auto& [path, sddl] :
       {std::pair{folder, readable}, std::pair{folder / L"out", writable}}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      return "a security descriptor: " + ErrorText(GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!made) return Utf8(path.wstring()) + ": " + ErrorText(error);
  }
  return {};
}

// Copies `from` into `to` (made already), files inheriting `to`'s permissions.
std::string CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(from, error); !error && it != fs::end(it);
       it.increment(error)) {
    const fs::path target = to / fs::relative(it->path(), from);
    if (it->is_directory()) {
      if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Utf8(target.wstring()) + ": " + ErrorText(GetLastError());
    } else if (!CopyFileW(it->path().c_str(), target.c_str(), FALSE)) {
      return Utf8(target.wstring()) + ": " + ErrorText(GetLastError());
    }
  }
  return error ? Utf8(from.wstring()) + ": " + error.message() : std::string();
}

// --- The links the data folder's end-to-end tests need -------------------------------------------

// The layout tests/e2e/make-links.sh makes from the Unix side under Wine (which makes no links
// itself). Empty when they are in place.
std::string MakeLinks(const fs::path& links) {
  if (Exists(links / L"folder-link")) return {};
  RemoveTree(links);
  const fs::path elsewhere = links / L"elsewhere";
  std::error_code error;
  fs::create_directories(elsewhere, error);
  fs::create_directories(links / L"data" / L"Flashwright", error);
  if (error) return Utf8(links.wstring()) + ": " + error.message();
  if (!WriteAll(elsewhere / L"victim.txt", "not a log\n")) return "cannot write the link fixture";
  const struct {
    fs::path link;
    fs::path target;
    DWORD flags;
  } made[] = {
      {links / L"file-link.log", elsewhere / L"victim.txt", 0},
      {links / L"folder-link", elsewhere, SYMBOLIC_LINK_FLAG_DIRECTORY},
      {links / L"data" / L"Flashwright" / L"recordings", elsewhere, SYMBOLIC_LINK_FLAG_DIRECTORY}};
  for (const auto& link : made) {
    if (!CreateSymbolicLinkW(link.link.c_str(), link.target.c_str(), link.flags) ||
        (GetFileAttributesW(link.link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return "cannot make the link " + Utf8(link.link.wstring()) + ": " + ErrorText(GetLastError());
    }
  }
  return {};
}

// --- The run -------------------------------------------------------------------------------------

struct Options {
  fs::path results;
  bool force = false;
  std::wstring e2eFilter;
  bool help = false;
  std::string error;
};

Options ParseArguments(int argc, wchar_t** argv, const fs::path& kitDir) {
  Options options;
  options.results = kitDir / L"results";
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--results" && i + 1 < argc) {
      options.results = fs::absolute(argv[++i]);
    } else if (argument == L"--force") {
      options.force = true;
    } else if (argument == L"--e2e-filter" && i + 1 < argc) {
      options.e2eFilter = argv[++i];
    } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      options.help = true;
    } else {
      options.error = "unknown argument: " + Utf8(argument);
    }
  }
  return options;
}

constexpr char Usage[] =
    "usage: kit-runner.exe [--results FOLDER] [--force] [--e2e-filter GTEST_FILTER]\n"
    "  Runs the Flashwright Windows test kit from an elevated prompt.\n"
    "  --results FOLDER    where junit.xml and summary.txt go (default: results beside bin)\n"
    "  --force             run although Flashwright's data is on this PC; afterwards only what\n"
    "                      the run added is removed, and the tests may have changed the rest\n"
    "  --e2e-filter F      run only the end-to-end tests GoogleTest's filter F selects\n"
    "Exit code: 0 every test that ran passed, 1 a test failed, 2 the kit could not run.\n";

std::string UtcTime(std::time_t when) {
  char text[32] = "";
  std::tm utc{};
  gmtime_s(&utc, &when);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

struct Summary {
  std::string machine;
  std::time_t started = 0;
  std::time_t ended = 0;
  std::vector<std::string> steps;     // one line per program run
  std::vector<std::string> problems;  // the kit's own: why it could not run, what it left
  std::vector<std::string> notes;
};

std::string SummaryText(const Summary& summary, const kit::Counts& counts, int exitCode) {
  std::ostringstream text;
  static const char* const Verdicts[] = {"PASSED", "FAILED", "COULD NOT RUN"};
  text << "Flashwright Windows test kit\n";
  text << "Result: " << Verdicts[exitCode] << " (exit code " << exitCode << ")\n";
  text << "Tests: " << counts.passed << " passed, " << counts.failed << " failed, "
       << counts.skipped << " skipped\n";
  text << "Machine: " << summary.machine << "\n";
  text << "Time: " << UtcTime(summary.started) << ", " << (summary.ended - summary.started)
       << " s\n";
  text << "\nSkipped, by reason:\n";
  if (counts.skipReasons.empty()) text << "  (none)\n";
  std::size_t width = 0;
  for (const auto& [reason, count] : counts.skipReasons) width = std::max(width, reason.size());
  for (const auto& [reason, count] : counts.skipReasons) {
    text << "  " << reason << std::string(width - reason.size() + 2, ' ') << count << "\n";
  }
  text << "\nFailed:\n";
  if (counts.failures.empty()) text << "  (none)\n";
  for (const kit::Failure& failure : counts.failures) {
    text << "  " << failure.test << "\n";
    std::istringstream lines(failure.message);
    std::string line;
    int shown = 0;
    while (std::getline(lines, line) && shown++ < 12) text << "      " << line << "\n";
  }
  text << "\nKit:\n";
  if (summary.problems.empty()) text << "  (no problem)\n";
  for (const std::string& problem : summary.problems) text << "  problem: " << problem << "\n";
  for (const std::string& note : summary.notes) text << "  note: " << note << "\n";
  text << "\nPrograms:\n";
  for (const std::string& step : summary.steps) text << "  " << step << "\n";
  return text.str();
}

struct Kit {
  fs::path bin;
  fs::path root;
  fs::path raw;  // results/raw: each program's report and output
  kit::Results results;
  Summary summary;

  // Runs one test program as the administrator and adds its report.
  void RunTests(const std::wstring& program, const std::string& label,
                std::vector<std::wstring> arguments) {
    const fs::path report = raw / Wide(label + ".xml");
    const fs::path log = raw / Wide(label + ".log");
    DeleteFileW(report.c_str());
    arguments.push_back(L"--gtest_output=xml:" + report.wstring());
    Say("running " + label);
    const Finished finished = Run(bin / program, arguments, log);
    Record(label, finished, report, log);
  }

  void Record(const std::string& label, const Finished& finished, const fs::path& report,
              const fs::path& log) {
    const std::string logName = "raw/" + Utf8(log.filename().wstring());
    if (!finished.started) {
      summary.problems.push_back(label + ": " + finished.error);
      results.Add(label, "", -1, logName);
      summary.steps.push_back(label + ": did not start");
      return;
    }
    const long code = finished.timedOut ? -1 : static_cast<long>(finished.exitCode);
    results.Add(label, Exists(report) ? ReadAll(report) : "", code, logName);
    summary.steps.push_back(label + ": exit code " + std::to_string(finished.exitCode) +
                            (finished.timedOut ? " (ended after the time limit)" : "") +
                            ", output in " + logName);
  }

  void RunStandardUserPart() {
    const std::string label = "windows_tests.standard-user";
    if (WineVersion() != nullptr) {
      // Wine makes no accounts: the part is reported as skipped, and its tests run as the
      // administrator so that each reports itself skipped with its reason.
      results.AddSkipped("kit", "StandardUserPart", "needs Windows: a standard user account");
      RunTests(L"windows_tests.exe", label, {L"--gtest_filter=StandardUser*"});
      summary.notes.push_back(
          "under Wine no user account can be made: the standard user's part ran as the "
          "administrator");
      return;
    }
    StandardUser user;
    if (std::string error = user.Make(); !error.empty()) {
      // The kit could not run this part: exit code 2, not a failed test.
      summary.problems.push_back(
          "cannot make a temporary standard user, so the StandardUser "
          "tests did not run: " +
          error);
      if (std::string left = user.Remove(); !left.empty())
        summary.problems.push_back("left: " + left);
      return;
    }
    Say("running " + label + " as " + Utf8(user.Name()));
    wchar_t windows[MAX_PATH] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH);
    const fs::path folder =
        fs::path(windows) / L"Temp" / (L"flashwright-kit-" + RandomText(8, L"0123456789abcdef"));
    std::string error = MakeUserFolder(folder, user.Sid());
    for (const wchar_t* part : {L"bin", L"fixtures", L"msi", L"variants"}) {
      if (!error.empty()) break;
      if (!Exists(root / part)) continue;
      if (!CreateDirectoryW((folder / part).c_str(), nullptr)) {
        error = Utf8((folder / part).wstring()) + ": " + ErrorText(GetLastError());
      } else {
        error = CopyTree(root / part, folder / part);
      }
    }
    const fs::path report = folder / L"out" / L"report.xml";
    const fs::path log = folder / L"out" / L"output.log";
    Finished finished;
    if (error.empty()) {
      const std::wstring command = Quote((folder / L"bin" / L"windows_tests.exe").wstring()) +
                                   L" --gtest_filter=StandardUser* --gtest_output=xml:" +
                                   Quote(report.wstring());
      finished = user.Run(command, folder / L"bin", log);
    } else {
      finished.error = "cannot prepare the standard user's folder: " + error;
    }
    CopyFileW(report.c_str(), (raw / Wide(label + ".xml")).c_str(), FALSE);
    CopyFileW(log.c_str(), (raw / Wide(label + ".log")).c_str(), FALSE);
    Record(label, finished, raw / Wide(label + ".xml"), raw / Wide(label + ".log"));
    if (std::string left = RemoveTree(folder); !left.empty())
      summary.problems.push_back("left: " + left);
    if (std::string left = user.Remove(); !left.empty())
      summary.problems.push_back("left: " + left);
  }
};

int Main(int argc, wchar_t** argv) {
  Kit kit;
  kit.bin = OwnDir();
  kit.root = kit.bin.parent_path();
  const Options options = ParseArguments(argc, argv, kit.root);
  if (options.help || !options.error.empty()) {
    if (!options.error.empty()) std::fprintf(stderr, "kit: %s\n", options.error.c_str());
    std::fputs(Usage, options.help ? stdout : stderr);
    return options.help ? Passed : CouldNotRun;
  }
  kit.summary.machine = Machine();
  kit.summary.started = std::time(nullptr);
  kit.raw = options.results / L"raw";
  std::error_code error;
  fs::create_directories(kit.raw, error);
  if (error) {
    std::fprintf(stderr, "kit: cannot make %s: %s\n", Utf8(kit.raw.wstring()).c_str(),
                 error.message().c_str());
    return CouldNotRun;
  }
  // The summary of a run that could not start says why, as every other one does.
  const auto writeResults = [&](int exitCode) {
    kit.summary.ended = std::time(nullptr);
    const bool written = WriteAll(options.results / L"junit.xml", kit.results.JUnit()) &&
                         WriteAll(options.results / L"summary.txt",
                                  SummaryText(kit.summary, kit.results.Count(), exitCode));
    if (!written) {
      std::fprintf(stderr, "kit: cannot write the results in %s\n",
                   Utf8(options.results.wstring()).c_str());
      return CouldNotRun;
    }
    Say("results in " + Utf8(options.results.wstring()));
    return exitCode;
  };
  const auto cannotRun = [&](const std::string& why) {
    std::fprintf(stderr, "kit: %s\n", why.c_str());
    kit.summary.problems.push_back(why);
    return writeResults(CouldNotRun);
  };

  if (!RunsElevated()) {
    return cannotRun(
        "not elevated: open a prompt with \"Run as administrator\" (right-click Windows "
        "PowerShell or Command Prompt) and run the kit from there");
  }
  for (const wchar_t* file : {L"Flashwright.exe", L"flashwright-cli.exe", L"ZRFWUpdateDll.dll",
                              L"usbsim.exe", L"lock-holder.exe", L"log-holder.exe",
                              L"unit_tests.exe", L"e2e_tests.exe", L"windows_tests.exe"}) {
    if (!Exists(kit.bin / file)) {
      return cannotRun(Utf8((kit.bin / file).wstring()) + " is missing: unpack the whole kit");
    }
  }
  const fs::path dataFolder = ProgramData() / L"Flashwright";
  if (dataFolder == L"Flashwright") return cannotRun("the ProgramData folder is not known");
  const PcState before = PcState::Now(dataFolder);
  const std::vector<std::string> found = before.Describe(dataFolder);
  if (!found.empty()) {
    std::string list;
    for (const std::string& line : found) list += "\n  " + line;
    if (!options.force) {
      return cannotRun(
          "this PC holds Flashwright's data, which the tests would change:" + list +
          "\nRun the kit on a PC without Flashwright, or give --force (Run-Tests.ps1 -Force) to "
          "run anyway: then only what the run adds is removed afterwards");
    }
    kit.summary.notes.push_back(
        "--force: found before the run and left in place (the tests may "
        "have changed it):" +
        list);
  }

  // The links the data folder's end-to-end tests need, made here unless someone made them.
  const fs::path links = kit.root / L"link-fixture";
  const bool linksWereThere = Exists(links);
  if (std::string why = MakeLinks(links); !why.empty()) {
    kit.summary.notes.push_back("the data folder's end-to-end tests have no links: " + why);
  }

  kit.RunTests(L"unit_tests.exe", "unit_tests", {});
  std::vector<std::wstring> e2eArguments;
  if (!options.e2eFilter.empty()) {
    e2eArguments.push_back(L"--gtest_filter=" + options.e2eFilter);
    kit.summary.notes.push_back("end-to-end tests limited to " + Utf8(options.e2eFilter));
  }
  kit.RunTests(L"e2e_tests.exe", "e2e_tests", e2eArguments);
  kit.RunTests(L"windows_tests.exe", "windows_tests", {L"--gtest_filter=-StandardUser*"});
  kit.RunStandardUserPart();

  Say("removing what the run made");
  for (const std::string& left : RemoveWhatTheRunMade(before, dataFolder)) {
    kit.summary.problems.push_back("left: " + left);
  }
  if (!linksWereThere) {
    if (std::string left = RemoveTree(links); !left.empty()) {
      kit.summary.problems.push_back("left: " + left);
    }
  }
  const kit::Counts& counts = kit.results.Count();
  return writeResults(counts.failed > 0              ? TestFailed
                      : kit.summary.problems.empty() ? Passed
                                                     : CouldNotRun);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kit: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "kit: an unknown exception\n");
  }
  return CouldNotRun;
}
