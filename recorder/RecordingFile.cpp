// The recording file: where it is, opening it once, and writing whole lines to it.
#include "recorder/RecordingFile.h"

#include <windows.h>
// After windows.h: the system's random source (RtlGenRandom).
#include <ntsecapi.h>

#include <cstdio>

#include "platform/VersionRecord.h"
#include "platform/win32/DataFolder.h"
#include "platform/win32/ModulePath.h"
#include "platform/win32/Owners.h"
#include "platform/win32/RecorderSwitch.h"
#include "platform/win32/Text.h"
#include "recording/EnvironmentPath.h"
#include "recording/Recording.h"

namespace recorder {
namespace {

// The file, from the first line on; empty when it could not be opened.
platform::win32::UniqueFile& File() {
  static platform::win32::UniqueFile file;
  return file;
}
bool fileTried = false;
unsigned long skippedLines = 0;

std::wstring Environment(const wchar_t* name) {
  std::wstring value(512, L'\0');
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  if (length == 0 || length >= value.size()) return {};
  value.resize(length);
  return value;
}

// Why nothing is recorded, for a debugger or a trace of the system's debug output: with no file,
// there is nowhere else to say it, and the library's calls go on unrecorded.
void NoteNotRecording(const std::string& why) {
  OutputDebugStringW(
      platform::win32::Utf8ToWide("Flashwright recorder: nothing is recorded: " + why + "\n")
          .c_str());
}

// %ProgramData%\Flashwright\recordings\<UTC time>-<random>.fwrec, in the checked data folder,
// under a name nobody can make ahead of it: 64 bits from the system's random source.
std::wstring DefaultRecordingPath() {
  std::string error;
  const std::wstring folder = platform::win32::RecordingsFolder(error);
  if (folder.empty()) {
    NoteNotRecording(error);
    return {};
  }
  unsigned char random[8];
  if (!RtlGenRandom(random, sizeof random)) {
    NoteNotRecording("no random name for the recording");
    return {};
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t name[64];
  std::swprintf(name, 64, L"\\%04u%02u%02uT%02u%02u%02uZ-", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  std::wstring path = folder + name;
  for (const unsigned char byte : random) {
    path += L"0123456789abcdef"[byte >> 4];
    path += L"0123456789abcdef"[byte & 15];
  }
  return path + L".fwrec";
}

// The version record compiled into `module` (the program, or the recorder itself), as text.
std::string VersionOf(HMODULE module) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const auto version = data ? platform::FixedFileVersion(static_cast<const unsigned char*>(data),
                                                         SizeofResource(module, resource))
                            : std::nullopt;
  return version ? platform::VersionText(*version) : "unknown";
}

// Which program made the recording, and with which recorder.
Origin OriginOfThisProcess() {
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&VersionOf), &self);
  std::wstring program = platform::win32::ModulePath(nullptr);
  program.erase(0, program.find_last_of(L"\\/") + 1);
  return {platform::win32::WideToUtf8(program), VersionOf(GetModuleHandleW(nullptr)),
          self ? VersionOf(self) : "unknown",
          platform::win32::WideToUtf8(Environment(platform::win32::RecordedCommandVariable))};
}

void WriteText(const std::string& text) {
  DWORD written = 0;
  if (!WriteFile(File().Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    ++skippedLines;
  }
}

void OpenOnce() {
  if (fileTried) return;
  fileTried = true;
  // FLASHWRIGHT_RECORDING names the file (replaced); the default is always a new file. Neither
  // is opened through a link.
  const std::wstring named = PathFromEnvironment(Environment(L"FLASHWRIGHT_RECORDING"));
  const std::wstring path = named.empty() ? DefaultRecordingPath() : named;
  if (path.empty()) return;
  std::string error;
  File() = platform::win32::OpenFileNoLink(
      path, GENERIC_WRITE,
      named.empty() ? platform::win32::Creation::NewOnly : platform::win32::Creation::OpenOrCreate,
      error);
  // Emptied only once it is known to be the file named, not one a link leads to.
  if (File() && !SetEndOfFile(File().Get())) File().Reset();
  if (!File() && !error.empty()) NoteNotRecording(platform::win32::WideToUtf8(path) + ": " + error);
  if (File()) {
    WriteText(std::string(FormatHeader) + "\n# " + FormatOrigin(OriginOfThisProcess()) +
              "\n# calls of the update library, one a line; see support-recording.md\n");
  }
}

}  // namespace

void WriteLine(const std::string& line) {
  OpenOnce();
  if (!File()) return;
  if (skippedLines > 0) {
    const unsigned long skipped = skippedLines;
    skippedLines = 0;
    WriteText("# " + std::to_string(skipped) + " line(s) could not be written here\n");
    if (skippedLines > 0) skippedLines = skipped;  // the note failed too: say it all later
  }
  WriteText(line + "\n");
}

void CloseRecordingFile() { File().Reset(); }

}  // namespace recorder
