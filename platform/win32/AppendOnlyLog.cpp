// The command line's log file; see AppendOnlyLog.h.
#include "platform/win32/AppendOnlyLog.h"

#include <windows.h>

#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// The text the system gives for the last error, without its line break.
std::string LastErrorText() {
  const DWORD error = GetLastError();
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

// Room for a run's lines with plenty to spare (a line is a few hundred bytes): less, and the
// disk is as good as full.
constexpr ULONGLONG MinimumRoom = 64ULL * 1024;

UniqueFile Open(const std::string& file) {
  return UniqueFile(CreateFileW(Utf8ToWide(file).c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

std::string AppendOnlyLog::ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring_view(name, size)) : std::string();
}

std::string AppendOnlyLog::UserName() {
  wchar_t name[256 + 1] = L"";
  DWORD size = 256 + 1;
  return GetUserNameW(name, &size) && size > 0 ? WideToUtf8(std::wstring_view(name, size - 1))
                                               : std::string();
}

std::string AppendOnlyLog::SharedLog(std::string& error) {
  wchar_t data[MAX_PATH] = L"";
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    error = "the ProgramData folder is not known";
    return {};
  }
  std::wstring folder = std::wstring(data, length) + L"\\Flashwright";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Logs";
  CreateDirectoryW(folder.c_str(), nullptr);
  return WideToUtf8(folder + L"\\flashwright.log");
}

std::string AppendOnlyLog::CheckWritable(const std::string& file) {
  const UniqueFile handle = Open(file);
  if (!handle) return LastErrorText();
  if (GetFileType(handle.Get()) != FILE_TYPE_DISK) return "it is a device, not a file";
  // The room is that of the file's folder's volume, as this user may use it (quotas included).
  const std::wstring wide = Utf8ToWide(file);
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring folder(length, L'\0');
  wchar_t* name = nullptr;
  if (length == 0 || GetFullPathNameW(wide.c_str(), length, folder.data(), &name) == 0 ||
      name == nullptr) {
    return LastErrorText();
  }
  folder.resize(static_cast<std::size_t>(name - folder.data()));
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return LastErrorText();
  if (available.QuadPart < MinimumRoom) {
    SetLastError(ERROR_DISK_FULL);
    return LastErrorText();
  }
  return {};
}

std::string AppendOnlyLog::AppendLine(const std::string& file, std::string_view line,
                                      std::uint64_t rotateAt) {
  UniqueFile handle = Open(file);
  if (!handle) return LastErrorText();
  // One writer at a time, each line in one write: lines never interleave.
  OVERLAPPED whole{};
  bool locked = LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  LARGE_INTEGER size{};
  if (locked && rotateAt > 0 && GetFileSizeEx(handle.Get(), &size) &&
      static_cast<std::uint64_t>(size.QuadPart) >= rotateAt) {
    const std::wstring wide = Utf8ToWide(file);
    UnlockFileEx(handle.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    handle = UniqueFile();
    MoveFileExW(wide.c_str(), (wide + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    handle = Open(file);
    if (!handle) return LastErrorText();
    locked = LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  }
  const std::string text = std::string(line) + "\n";
  DWORD written = 0;
  const bool wrote =
      WriteFile(handle.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  std::string error = wrote ? std::string() : LastErrorText();
  if (locked) UnlockFileEx(handle.Get(), 0, MAXDWORD, MAXDWORD, &whole);
  return error;
}

}  // namespace platform::win32
