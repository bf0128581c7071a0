// Support's view of this PC; see SupportDesk.h. Cold code, built for size: it runs only for the
// support commands, which only the command-line program has.
#include "platform/win32/SupportDesk.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

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

}  // namespace

// The switch's value set or deleted, in the 64-bit view the programs read it from.
std::string SystemSupportDesk::SetRecording(bool on) {
  HKEY raw = nullptr;
  LSTATUS status =
      on ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, SupportKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr)
         : RegOpenKeyExW(HKEY_LOCAL_MACHINE, SupportKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &raw);
  const UniqueKey key(status == ERROR_SUCCESS ? raw : nullptr);
  if (key) {
    const DWORD one = 1;
    status = on ? RegSetValueExW(key.Get(), RecordingValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&one), sizeof one)
                : RegDeleteValueW(key.Get(), RecordingValue);
  }
  // Off when there is nothing to delete is off all the same.
  if (status == ERROR_SUCCESS || (!on && status == ERROR_FILE_NOT_FOUND)) return {};
  return "HKLM\\SOFTWARE\\Flashwright\\Recording: " + SystemErrorText(static_cast<DWORD>(status));
}

bool SystemSupportDesk::RecordingOn() { return RecordingSwitchedOn(); }

bool SystemSupportDesk::RecorderPresent() { return IsPlainFile(RecorderPathBesideProgram()); }

std::string SystemSupportDesk::RecorderRefusal() {
  if (!RecorderPresent()) return "it is not beside the programs";
  return platform::RecorderRefusal(RecorderSigning(ExecutablePath(), RecorderPathBesideProgram()));
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
  const std::wstring recordings = DataFolder(L"recordings", error);
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

std::string SystemSupportDesk::ReadNoLink(const std::string& path, std::uint64_t limit,
                                          std::string& contents) {
  const std::wstring wide = Utf8ToWide(path);
  if (!IsPlainFile(wide)) return "not a file";
  std::string error;
  const UniqueFile file = OpenFileNoLink(wide, GENERIC_READ, Creation::OpenOrCreate, error);
  if (!file) return error;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) return SystemErrorText(GetLastError());
  if (static_cast<std::uint64_t>(size.QuadPart) > limit) return "too large";
  contents.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  DWORD read = 0;
  while (done < contents.size() &&
         ReadFile(file.Get(), contents.data() + done, static_cast<DWORD>(contents.size() - done),
                  &read, nullptr) &&
         read > 0) {
    done += read;
  }
  contents.resize(done);
  return {};
}

std::string SystemSupportDesk::DefaultArchivePath() {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"PC";
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(computer, &length)) lstrcpyW(computer, L"PC");
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"%04u%02u%02uT%02u%02u%02uZ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return WideToUtf8(std::wstring(L"flashwright-support-") + computer + L"-" + stamp + L".zip");
}

}  // namespace platform::win32
