// What a console program needs of the system beyond the library's services, in small pieces each
// with one job: its output streams, a progress line, lines of standard input, Ctrl+C handling,
// waiting for device changes, the elevation check and who may change the program's folder, and
// files named on its command line. The log and the event log are in Trail.h. Windows
// implementations in platform/win32 and fakes in the unit tests.
//
// Text crosses these interfaces as UTF-8, except where a method says it takes the library's bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Deployment.h"
#include "platform/Platform.h"
#include "platform/SupportServices.h"
#include "platform/Trail.h"

namespace platform {

// Standard output and standard error.
class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  // As given (no newline added): UTF-16 on a console, the UTF-8 bytes when redirected. False when
  // not all of it could be written; never throws. Err may be called from any thread.
  virtual bool Out(std::string_view text) = 0;
  virtual bool Err(std::string_view text) = 0;
  // The library's text (paths, identification, version: bytes in the system's ANSI code page)
  // as UTF-8. Always valid UTF-8: a byte or sequence the code page does not define becomes
  // U+FFFD; control characters are kept (as their code points).
  virtual std::string FromAnsi(std::string_view bytes) = 0;

  // What standard error is: a file or pipe, a console that shows text only, or a console that
  // takes virtual-terminal sequences (colour). Asked once per run; asking may turn the console's
  // sequences on.
  enum class Screen { Redirected, Plain, Colour };
  virtual Screen ErrorScreen() = 0;
  // A short sound for a person at the PC, whatever the streams are; never throws or fails.
  virtual void Beep() = 0;
};

// Shows `label` and the time elapsed since on standard error until End, from another thread,
// while the caller blocks: a live counter on a console, a plain line every few seconds when
// standard error is redirected. Begin while shown starts over; End when not shown does nothing.
class ProgressLine {
 public:
  virtual ~ProgressLine() = default;
  virtual void Begin(std::string_view label) = 0;
  virtual void End() = 0;
};

// What Ctrl+C and Ctrl+Break do.
class Interrupts {
 public:
  enum class Mode {
    End,     // they end the program (the default)
    Ignore,  // they only print the message given
    Note,    // they are remembered for Requested, and end nothing
  };
  virtual ~Interrupts() = default;
  virtual void Set(Mode mode, std::string_view message = {}) = 0;
  // True once Ctrl+C or Ctrl+Break came while they were noted.
  virtual bool Requested() = 0;
};

// USB device changes, noticed from the first Watch (or wait) on.
class DeviceChanges {
 public:
  enum class Wait { Changed, TimedOut, Interrupted };
  virtual ~DeviceChanges() = default;
  // Starts noticing changes; a command that lists devices and then waits calls it before it
  // lists, so that a change in between is not missed. Calling it again does nothing.
  virtual void Watch() = 0;
  // Changed once the changes have been quiet for `settle` after one came, TimedOut when none
  // came within `timeout`, Interrupted at a noted Ctrl+C.
  virtual Wait WaitForChange(std::chrono::milliseconds settle,
                             std::chrono::milliseconds timeout) = 0;
};

class Elevation {
 public:
  virtual ~Elevation() = default;
  // Whether the program runs with administrator rights.
  virtual bool IsElevated() = 0;
  // Who other than administrators may change the program's own folder (its files run with
  // administrator rights), as a sentence; empty when no one may.
  virtual std::string ProgramFolderOpenToOthers() = 0;
};

// Standard input read a line at a time: what an operator types or a barcode scanner sends (a
// scanner is a keyboard that types a line and Enter).
class LineInput {
 public:
  enum class Read {
    Line,         // `line` holds the line, UTF-8, without its end (\n or \r\n)
    End,          // the input has ended (or cannot be read); nothing more will come
    Interrupted,  // Ctrl+C or Ctrl+Break came while they were noted (Interrupts::Mode::Note)
    TooLong,      // a line longer than MaxLineBytes came; it was passed over, never held whole
  };
  // The longest line given, in bytes of UTF-8: room for a label of any scanner many times over.
  // A longer line is read past in pieces, so reading holds no more than about this much at once
  // and takes time in proportion to the input, whatever comes.
  static constexpr std::size_t MaxLineBytes = 4096;
  virtual ~LineInput() = default;
  virtual Read ReadLine(std::string& line) = 0;
};

// Files a command reads and writes by the names its user gave: folders of logs, a report's pages.
// Each returns an error text, empty on success.
class Files {
 public:
  virtual ~Files() = default;
  // The files at `path` into `found`: `path` itself when it is a file, else every file in the
  // folder's tree, sorted, not entering links to other folders.
  virtual std::string Find(const std::string& path, std::vector<std::string>& found) = 0;
  // What takes a file's contents a chunk at a time, in order.
  class Chunks {
   public:
    virtual void Take(std::string_view chunk) = 0;

   protected:
    ~Chunks() = default;
  };
  // `file` into `into`, chunk by chunk, whatever its size and never held whole; an error when it
  // could not be opened or read to its end (the chunks before it were taken).
  virtual std::string ReadChunks(const std::string& file, Chunks& into) = 0;
  // Replaces `file` (or creates it) with `contents`.
  virtual std::string Write(const std::string& file, std::string_view contents) = 0;
};

// Everything a console program needs of the platform, each owned by the entry point.
struct ConsoleServices {
  ModuleLoader& modules;
  FaultBarrier& faults;
  VersionRecord& versionRecord;
  SleepAndShutdownBlock& sleepAndShutdown;
  ProgrammingLock& programmingLock;
  AttemptStore& attempts;
  ConsoleOutput& output;
  ProgressLine& progress;
  Interrupts& interrupts;
  DeviceChanges& deviceChanges;
  Elevation& elevation;
  LogFile& log;
  EventLog& events;
  Files& files;
  LineInput& input;
  SupportDesk& support;
  ConsoleUser& consoleUser;
  StatusStore& status;
};

}  // namespace platform
