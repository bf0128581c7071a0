// The command line's log file; see AppendOnlyLog.h.
#include "platform/win32/AppendOnlyLog.h"

#include <windows.h>

#include "platform/win32/DataFolder.h"
#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// Room for a run's lines with plenty to spare (a line is a few hundred bytes): less, and the
// disk is as good as full.
constexpr ULONGLONG MinimumRoom = 64ULL * 1024;
// Reading too, since locking a range takes read or write data access; appending alone still
// puts every write at the end.
constexpr DWORD LogAccess = FILE_READ_DATA | FILE_APPEND_DATA;
// A writer that finds its file rotated away under it opens the new one; this many times in a
// row means something other than our writers keeps moving the file.
constexpr int OpenTries = 8;

// Holds a handle's whole-file lock for a scope.
class WholeFileLock {
 public:
  explicit WholeFileLock(HANDLE file) : file_(file) {
    locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_) != 0;
  }
  ~WholeFileLock() {
    if (locked_) UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &whole_);
  }
  WholeFileLock(const WholeFileLock&) = delete;
  WholeFileLock& operator=(const WholeFileLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  HANDLE file_;
  OVERLAPPED whole_{};
  bool locked_ = false;
};

}  // namespace

std::string AppendOnlyLog::ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring_view(name, size)) : std::string();
}

std::string AppendOnlyLog::UserName() { return RunningAccountName(); }

std::string AppendOnlyLog::SharedLog(std::string& error) {
  const std::wstring folder = DataFolder(L"Logs", error);
  return folder.empty() ? std::string() : WideToUtf8(folder + L"\\flashwright.log");
}

std::string AppendOnlyLog::CheckWritable(const std::string& file) {
  std::string error;
  const UniqueFile handle =
      OpenFileNoLink(Utf8ToWide(file), LogAccess, Creation::OpenOrCreate, error);
  if (!handle) return error;
  // The room is that of the file's folder's volume, as this user may use it (quotas included).
  const std::wstring wide = Utf8ToWide(file);
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring folder(length, L'\0');
  wchar_t* name = nullptr;
  if (length == 0 || GetFullPathNameW(wide.c_str(), length, folder.data(), &name) == 0 ||
      name == nullptr) {
    return SystemErrorText(GetLastError());
  }
  folder.resize(static_cast<std::size_t>(name - folder.data()));
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
    return SystemErrorText(GetLastError());
  if (available.QuadPart < MinimumRoom) {
    return SystemErrorText(ERROR_DISK_FULL);
  }
  return {};
}

std::string AppendOnlyLog::AppendLine(const std::string& file, std::string_view line,
                                      std::uint64_t rotateAt) {
  const std::wstring path = Utf8ToWide(file);
  const std::string text = std::string(line) + "\n";
  for (int tries = 0; tries < OpenTries; ++tries) {
    std::string error;
    const UniqueFile handle = OpenFileNoLink(path, LogAccess, Creation::OpenOrCreate, error);
    if (!handle) return error;
    // One writer at a time, each line in one write: lines never interleave.
    const WholeFileLock lock(handle.Get());
    if (!lock.Locked()) return SystemErrorText(GetLastError());
    // Another writer may have rotated the file between our open and our lock: this handle then
    // holds the older file, and the line belongs in the new one.
    if (!StillNamed(handle.Get(), path)) continue;
    LARGE_INTEGER size{};
    if (rotateAt > 0 && GetFileSizeEx(handle.Get(), &size) &&
        static_cast<std::uint64_t>(size.QuadPart) >= rotateAt &&
        MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING)) {
      continue;  // writers waiting for the lock see the rename and follow to the new file
    }
    // A file that could not be renamed (a reader that does not share renaming holds it open)
    // takes the line anyway: a longer log is better than a lost line.
    DWORD written = 0;
    if (!WriteFile(handle.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      return SystemErrorText(GetLastError());
    }
    return {};
  }
  return "the log was renamed each time it was opened";
}

}  // namespace platform::win32
