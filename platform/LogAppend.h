// How a line joins a log that other programs write and read at the same time: one writer at a
// time, every wait drawn from a budget the whole run shares, each line on a line of its own, and
// a write that fails leaves nothing behind. Portable: the file's calls are behind LogTarget
// (platform/win32/AppendOnlyLog.cpp on Windows, a fake in the unit tests).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The longest a program waits for its logs, summed over every line it writes: a log is a record
// of the work and never holds it up, whoever else holds the file.
inline constexpr std::chrono::milliseconds LogWaitBudget{2000};

// What one try at opening or locking gave.
enum class TryResult {
  Done,
  Busy,    // another program holds the file: worth trying again shortly
  Failed,  // with a reason; trying again would not help
};

// The log file as one append sees it: at most one file open at a time, and the clock its waits
// are measured by.
class LogTarget {
 public:
  virtual ~LogTarget() = default;
  // Opens `path` for reading and writing, creating it when missing, without following a link.
  // Busy when another program has it open and lets no one write it.
  virtual TryResult Open(const std::string& path, std::string& error) = 0;
  // Takes the open file's whole-file exclusive lock without waiting; it is let go by Close.
  // Busy when another handle holds a lock on any part of it.
  virtual TryResult TryLock(std::string& error) = 0;
  // Whether the path opened still names the open file (no one renamed it away since).
  virtual bool StillNamed() = 0;
  // The open file's size in bytes; nothing, with the reason in `error`, when it cannot be read.
  virtual std::optional<std::uint64_t> Size(std::string& error) = 0;
  // The open file's last byte (of a file that is not empty); nothing when it cannot be read.
  virtual std::optional<char> LastByte() = 0;
  // Renames the open file's path to its name with ".1", replacing that file. False when it
  // cannot (a reader that does not share renaming holds it open).
  virtual bool RenameToOlder() = 0;
  // Writes `bytes` at the end of the open file in one write and returns how many were written.
  // `error` is the system's reason when the write failed, empty when it gave none (a short write
  // to a full disk succeeds and sets no error).
  virtual std::size_t Write(std::string_view bytes, std::string& error) = 0;
  // Cuts the open file back to `size` bytes. False when it cannot.
  virtual bool CutBack(std::uint64_t size) = 0;
  // Lets go of the lock (if taken) and closes the file (if open).
  virtual void Close() = 0;
  // The system's text for a disk that is full.
  virtual std::string DiskFullText() = 0;
  // A steady clock, and a pause of about `pause` (the waits are measured by the clock).
  virtual std::chrono::milliseconds Now() = 0;
  virtual void Sleep(std::chrono::milliseconds pause) = 0;
};

// What a process may still spend waiting for its logs. One per process, shared by every log it
// writes; safe to draw on from several threads.
class WaitBudget {
 public:
  explicit WaitBudget(std::chrono::milliseconds total) : left_(total.count()) {}
  std::chrono::milliseconds Left() const { return std::chrono::milliseconds(left_.load()); }
  void Spend(std::chrono::milliseconds spent) { left_ -= spent.count(); }

 private:
  std::atomic<long long> left_;
};

// Appends `line` and a newline to `path` as LogFile::AppendLine promises (platform/Trail.h),
// rotating it at `rotateAt` bytes (0: never). A file held by another program is tried again after
// short pauses while `budget` lasts, and what was waited is taken from it; once it is spent, each
// line has one try. A file that does not end with a newline (a writer cut short before this
// program took care of it) gets this line on a fresh line. A write that fails or is cut short is
// taken back, and the reason is the system's, a full disk when it gave none. Returns an error
// text, empty when the line was written.
std::string AppendWhole(LogTarget& target, const std::string& path, std::string_view line,
                        std::uint64_t rotateAt, WaitBudget& budget);

}  // namespace platform
