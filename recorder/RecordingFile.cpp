// The recording file: where it is, opening it once, and writing whole lines to it.
#include "recorder/RecordingFile.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/Owners.h"
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

// %ProgramData%\Flashwright\recordings\<UTC time>-<process id>.fwrec, its folders created.
std::wstring DefaultRecordingPath() {
  std::wstring folder = Environment(L"ProgramData");
  if (folder.empty()) return {};
  for (const wchar_t* part : {L"\\Flashwright", L"\\recordings"}) {
    folder += part;
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t name[64];
  std::swprintf(name, 64, L"\\%04u%02u%02uT%02u%02u%02uZ-%lu.fwrec", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
  return folder + name;
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
  // FLASHWRIGHT_RECORDING names the file (replaced).
  std::wstring path = PathFromEnvironment(Environment(L"FLASHWRIGHT_RECORDING"));
  if (path.empty()) path = DefaultRecordingPath();
  if (path.empty()) return;
  File().Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (File()) {
    WriteText(std::string(FormatHeader) +
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
