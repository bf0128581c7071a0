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
// Reading, since locking a range takes read or write data access and the last byte is read;
// writing data, since a write cut short is cut back (setting the end of a file takes it). Every
// write is made at the end, under the whole-file lock.
constexpr DWORD LogAccess = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA;

// The log file through Win32: opened without following links, locked whole without waiting.
class Win32LogTarget final : public LogTarget {
 public:
  ~Win32LogTarget() override { Close(); }

  TryResult Open(const std::string& path, std::string& error) override {
    path_ = Utf8ToWide(path);
    DWORD openError = ERROR_SUCCESS;
    file_ = OpenFileNoLink(path_, LogAccess, Creation::OpenOrCreate, error, &openError);
    if (file_) return TryResult::Done;
    return openError == ERROR_SHARING_VIOLATION ? TryResult::Busy : TryResult::Failed;
  }
  TryResult TryLock(std::string& error) override {
    whole_ = OVERLAPPED{};
    if (LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole_)) {
      locked_ = true;
      return TryResult::Done;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return TryResult::Busy;
    error = SystemErrorText(code);
    return TryResult::Failed;
  }
  bool StillNamed() override { return win32::StillNamed(file_.Get(), path_); }
  std::optional<std::uint64_t> Size(std::string& error) override {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file_.Get(), &size)) return static_cast<std::uint64_t>(size.QuadPart);
    error = SystemErrorText(GetLastError());
    return std::nullopt;
  }
  std::optional<char> LastByte() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.Get(), &size) || size.QuadPart == 0) return std::nullopt;
    const ULONGLONG at = static_cast<ULONGLONG>(size.QuadPart) - 1;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    char last = 0;
    DWORD read = 0;
    if (!ReadFile(file_.Get(), &last, 1, &read, &where) || read != 1) return std::nullopt;
    return last;
  }
  bool RenameToOlder() override {
    return MoveFileExW(path_.c_str(), (path_ + L".1").c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }
  std::size_t Write(std::string_view bytes, std::string& error) override {
    DWORD written = 0;
    const LARGE_INTEGER none{};
    if (!SetFilePointerEx(file_.Get(), none, nullptr, FILE_END) ||
        !WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
      error = SystemErrorText(GetLastError());
    }
    return written;
  }
  bool CutBack(std::uint64_t size) override {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN) && SetEndOfFile(file_.Get());
  }
  void Close() override {
    if (locked_) UnlockFileEx(file_.Get(), 0, MAXDWORD, MAXDWORD, &whole_);
    locked_ = false;
    file_ = UniqueFile();
  }
  std::string DiskFullText() override { return SystemErrorText(ERROR_DISK_FULL); }
  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(GetTickCount64()); }
  void Sleep(std::chrono::milliseconds pause) override {
    ::Sleep(static_cast<DWORD>(pause.count()));
  }

 private:
  std::wstring path_;
  UniqueFile file_;
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
  DWORD openError = ERROR_SUCCESS;
  const UniqueFile handle =
      OpenFileNoLink(Utf8ToWide(file), LogAccess, Creation::OpenOrCreate, error, &openError);
  // A file another program has open without sharing writing is there, and is checked again when
  // a line is written (within the run's wait for its logs): a reader must not stop the work.
  if (!handle && openError != ERROR_SHARING_VIOLATION) return error;
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
  Win32LogTarget target;
  return AppendWhole(target, file, line, rotateAt, budget_);
}

void AppendOnlyLog::DebugOutput(std::string_view text) {
  OutputDebugStringW(Utf8ToWide(std::string(text) + "\n").c_str());
}

}  // namespace platform::win32
