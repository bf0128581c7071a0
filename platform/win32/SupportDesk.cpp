// Support's view of this PC; see SupportDesk.h. Cold code, built for size: it runs only for the
// support commands, which only the command-line program has.
#include "platform/win32/SupportDesk.h"

#include <windows.h>
// After windows.h: the known folders.
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/VersionRecord.h"
#include "platform/win32/DataFolder.h"
#include "platform/win32/ModulePath.h"
#include "platform/win32/Owners.h"
#include "platform/win32/RecorderSwitch.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

using UniqueModule = UniqueResource<HMODULE, CloseWith<&FreeLibrary>>;

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

#ifndef RRF_SUBKEY_WOW6464KEY
#define RRF_SUBKEY_WOW6464KEY 0x00010000
#endif

#ifndef LOAD_LIBRARY_AS_IMAGE_RESOURCE
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#endif

std::wstring ProgramFolder() {
  std::wstring path = ExecutablePath();
  path.resize(path.find_last_of(L"\\/") + 1);
  return path;
}

bool IsPlainFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// A file's version record, read as data (the file is not run): "missing", "no version" or a.b.c.d.
std::string FileVersionOf(const std::wstring& path) {
  if (!IsPlainFile(path)) return "missing";
  const UniqueModule file(LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  HRSRC resource =
      file ? FindResourceW(file.Get(), MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16))
           : nullptr;
  HGLOBAL loaded = resource ? LoadResource(file.Get(), resource) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const auto version = data ? FixedFileVersion(static_cast<const unsigned char*>(data),
                                               SizeofResource(file.Get(), resource))
                            : std::nullopt;
  return version ? VersionText(*version) : "no version";
}

// Windows' own version, which GetVersionEx hides from programs not declared for it.
std::string WindowsVersion() {
  using GetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get = ntdll ? reinterpret_cast<GetVersionFn>(
                         reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                   : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (get == nullptr || get(&info) != 0) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion,
                info.dwBuildNumber);
  return text;
}

// The files of `folder` whose names end with `suffix`, sorted, links left out.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& suffix) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        name.size() > suffix.size() && name.ends_with(suffix)) {
      names.push_back(name);
    }
  } while (FindNextFileW(search.Get(), &found));
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  return full;
}

// Whether the process runs as the system's own account, which has no folder of a person.
bool RunsAsSystem() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const UniqueHandle token(opened);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  return size != 0 && GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size) &&
         IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                        WinLocalSystemSid);
}

// Where an archive goes by default: the running person's Documents folder (theirs alone to read,
// and where they look), else their profile folder; as SYSTEM, or with neither,
// %ProgramData%\Flashwright\support, which only SYSTEM and administrators may read. Never the
// current folder: an elevated prompt starts in the system folder, and the one a person changes
// to may be the program's own folder, which an uninstall then cannot empty.
std::wstring ArchiveFolder(std::string& error) {
  if (!RunsAsSystem()) {
    for (const KNOWNFOLDERID& known : {FOLDERID_Documents, FOLDERID_Profile}) {
      PWSTR found = nullptr;
      const HRESULT result = SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &found);
      std::wstring folder = SUCCEEDED(result) && found ? found : L"";
      CoTaskMemFree(found);
      const DWORD attributes =
          folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return folder;
      }
    }
  }
  return DataFolder(L"support", error);
}

}  // namespace

// The switch's value set or deleted, in the 64-bit view the programs read it from, with the time
// it was set beside it (collect gathers the recordings made since).
std::string SystemSupportDesk::SetRecording(bool on) {
  HKEY raw = nullptr;
  LSTATUS status =
      on ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, SupportKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr)
         : RegOpenKeyExW(HKEY_LOCAL_MACHINE, SupportKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &raw);
  const UniqueKey key(status == ERROR_SUCCESS ? raw : nullptr);
  if (key) {
    const DWORD one = 1;
    const auto since = static_cast<std::uint64_t>(std::time(nullptr));
    status = on ? RegSetValueExW(key.Get(), RecordingValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&one), sizeof one)
                : RegDeleteValueW(key.Get(), RecordingValue);
    if (on && status == ERROR_SUCCESS) {
      status = RegSetValueExW(key.Get(), RecordingSinceValue, 0, REG_QWORD,
                              reinterpret_cast<const BYTE*>(&since), sizeof since);
    } else if (!on) {
      RegDeleteValueW(key.Get(), RecordingSinceValue);
    }
  }
  // Off when there is nothing to delete is off all the same.
  if (status == ERROR_SUCCESS || (!on && status == ERROR_FILE_NOT_FOUND)) return {};
  return "HKLM\\SOFTWARE\\Flashwright\\Recording: " + SystemErrorText(static_cast<DWORD>(status));
}

bool SystemSupportDesk::RecordingOn() { return RecordingSwitchedOn(); }

std::int64_t SystemSupportDesk::RecordingSince() {
  std::uint64_t since = 0;
  DWORD size = sizeof since;
  if (!RecordingOn() || RegGetValueW(HKEY_LOCAL_MACHINE, SupportKey, RecordingSinceValue,
                                     RRF_RT_REG_QWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &since,
                                     &size) != ERROR_SUCCESS) {
    return 0;
  }
  return static_cast<std::int64_t>(since);
}

bool SystemSupportDesk::RecorderPresent() { return IsPlainFile(RecorderPathBesideProgram()); }

std::string SystemSupportDesk::RecorderRefusal() {
  if (!RecorderPresent()) return "it is not beside the programs";
  return platform::RecorderRefusal(RecorderSigning(ExecutablePath(), RecorderPathBesideProgram()));
}

std::string SystemSupportDesk::RecordingsFolderRefusal() {
  std::string error;
  if (!RecordingsFolder(error).empty()) return {};
  return error.empty() ? "it cannot be made or trusted" : error;
}

std::vector<SupportDesk::Fact> SystemSupportDesk::Versions() {
  const std::wstring folder = ProgramFolder();
  std::vector<Fact> facts;
  for (const wchar_t* file :
       {L"flashwright-cli.exe", L"Flashwright.exe", RecorderFileName, L"ZRFWUpdateDll.dll"}) {
    facts.push_back({WideToUtf8(file), FileVersionOf(folder + file)});
  }
  facts.push_back({"Windows", WindowsVersion()});
  return facts;
}

std::vector<SupportDesk::Gathered> SystemSupportDesk::SupportFiles() {
  std::vector<Gathered> files;
  // `name` in `folder`, as the entry `entryFolder` + name.
  auto gather = [&files](const std::wstring& folder, const std::wstring& name,
                         const char* entryFolder) {
    std::wstring path = folder;
    path += L'\\';
    path += name;
    if (!IsPlainFile(path)) return;
    std::string entry = entryFolder;
    entry += WideToUtf8(name);
    files.push_back({std::move(entry), WideToUtf8(path)});
  };
  std::string error;
  const std::wstring recordings = RecordingsFolder(error);
  if (!recordings.empty()) {
    for (const std::wstring& name : FilesIn(recordings, L".fwrec")) {
      gather(recordings, name, "recordings/");
    }
  }
  const std::wstring logs = DataFolder(L"Logs", error);
  if (!logs.empty()) {
    for (const wchar_t* name : {L"flashwright.log", L"flashwright.log.1"})
      gather(logs, name, "logs/");
  }
  return files;
}

std::string SystemSupportDesk::ReadNoLink(const std::string& path,
                                          const std::function<void(std::string_view)>& take) {
  const std::wstring wide = Utf8ToWide(path);
  if (!IsPlainFile(wide)) return "not a file";
  std::string error;
  const UniqueFile file = OpenFileNoLink(wide, GENERIC_READ, Creation::OpenOrCreate, error);
  if (!file) return error;
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return SystemErrorText(GetLastError());
    }
    if (read == 0) return {};
    take({buffer.data(), read});
  }
}

std::unique_ptr<SupportDesk::Output> SystemSupportDesk::CreateArchive(const std::string& named,
                                                                      std::string& path,
                                                                      std::string& error) {
  class FileOutput final : public Output {
   public:
    explicit FileOutput(UniqueFile file) : file_(std::move(file)) {}
    std::string Write(std::string_view bytes) override {
      while (!bytes.empty()) {
        DWORD written = 0;
        const auto part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(file_.Get(), bytes.data(), part, &written, nullptr) || written == 0) {
          return SystemErrorText(GetLastError());
        }
        bytes.remove_prefix(written);
      }
      return {};
    }

   private:
    UniqueFile file_;
  };
  const auto open = [&error](const std::wstring& wide) {
    return OpenFileNoLink(wide, GENERIC_WRITE, Creation::NewOnly, error);
  };
  if (!named.empty()) {
    const std::wstring full = FullPath(Utf8ToWide(named));
    path = WideToUtf8(full);
    UniqueFile file = open(full);
    return file ? std::make_unique<FileOutput>(std::move(file)) : nullptr;
  }
  const std::wstring folder = ArchiveFolder(error);
  if (folder.empty()) return nullptr;
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"PC";
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(computer, &length)) lstrcpyW(computer, L"PC");
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"%04u%02u%02uT%02u%02u%02uZ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  const std::wstring stem = folder + L"\\flashwright-support-" + computer + L"-" + stamp;
  // A name taken (another collect this second, or a file planted ahead) gets a number instead.
  for (int n = 1; n <= 100; ++n) {
    const std::wstring full = stem + (n == 1 ? L"" : L"-" + std::to_wstring(n)) + L".zip";
    path = WideToUtf8(full);
    DWORD code = 0;
    UniqueFile file = OpenFileNoLink(full, GENERIC_WRITE, Creation::NewOnly, error, &code);
    if (file) return std::make_unique<FileOutput>(std::move(file));
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return nullptr;
  }
  return nullptr;
}

}  // namespace platform::win32
