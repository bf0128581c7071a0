// The console services for the command-line program's unit tests, one small fake per piece: each
// keeps what was asked of it and answers as the test says. FakeConsole is all of them in one, as
// a test sets them up. The ANSI code page of FakeOutput is Latin-1 with 0x81 left undefined, as in
// the system's Western code page.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "FakeTrail.h"
#include "platform/Console.h"

namespace fakes {

class FakeOutput : public platform::ConsoleOutput {
 public:
  std::string out, err;
  bool outFails = false;  // standard output cannot be written
  Screen screen = Screen::Redirected;
  int beeps = 0;

  Screen ErrorScreen() override { return screen; }
  void Beep() override { ++beeps; }

  bool Out(std::string_view text) override {
    if (outFails) return false;
    out += text;
    return true;
  }
  bool Err(std::string_view text) override {
    err += text;
    return true;
  }
  std::string FromAnsi(std::string_view bytes) override {
    std::string utf8;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        utf8 += c;
      } else if (byte == 0x81) {
        utf8 += "\xEF\xBF\xBD";
      } else {
        utf8 += static_cast<char>(0xC0 | (byte >> 6));
        utf8 += static_cast<char>(0x80 | (byte & 0x3F));
      }
    }
    return utf8;
  }
};

class FakeProgressLine : public platform::ProgressLine {
 public:
  int progressShown = 0;
  bool progressRunning = false;

  void Begin(std::string_view) override {
    ++progressShown;
    progressRunning = true;
  }
  void End() override { progressRunning = false; }
};

class FakeInterrupts : public platform::Interrupts {
 public:
  std::vector<Mode> modes;  // every mode set, in order
  Mode mode = Mode::End;

  void Set(Mode to, std::string_view) override {
    mode = to;
    modes.push_back(to);
  }
  int untilCtrlC = -1;  // Requested answers false this many times, then true; -1: never
  bool Requested() override {
    if (untilCtrlC <= 0) return untilCtrlC == 0;
    --untilCtrlC;
    return false;
  }
};

// Every wait ends as Ctrl+C would end it, unless the test plays the operator in `operate`, which
// changes the world and says how the wait ends.
class FakeDeviceChanges : public platform::DeviceChanges {
 public:
  int watched = 0;  // Watch calls, waits included
  std::function<Wait()> operate;

  void Watch() override { ++watched; }
  Wait WaitForChange(std::chrono::milliseconds, std::chrono::milliseconds) override {
    Watch();
    return operate ? operate() : Wait::Interrupted;
  }
};

// Standard input: the lines typed, then what the read after the last one gives.
class FakeLineInput : public platform::LineInput {
 public:
  std::vector<std::string> typed;
  Read afterLast = Read::End;
  std::size_t reads = 0;

  Read ReadLine(std::string& line) override {
    if (reads >= typed.size()) {
      ++reads;
      return afterLast;
    }
    line = typed[reads++];
    // The real reader passes over a line past its limit, giving nothing of it.
    if (line.size() > MaxLineBytes) {
      line.clear();
      return Read::TooLong;
    }
    return Read::Line;
  }
};

class FakeElevation : public platform::Elevation {
 public:
  bool elevated = true;
  std::string openToOthers;  // what ProgramFolderOpenToOthers answers
  bool IsElevated() override { return elevated; }
  std::string ProgramFolderOpenToOthers() override { return openToOthers; }
};

// A file system of a test's files by name, '/' between folders; a folder is every name under it.
class FakeFiles : public platform::Files {
 public:
  std::map<std::string, std::string> stored;  // every file and its contents, written ones too
  std::set<std::string> unreadable;           // files that Read and ReadChunks refuse
  std::set<std::string> unwritable;           // files that Write refuses

  std::string Find(const std::string& path, std::vector<std::string>& found) override {
    if (stored.contains(path)) {
      found.push_back(path);
      return {};
    }
    const std::size_t before = found.size();
    for (const auto& [name, contents] : stored) {
      if (name.starts_with(path + "/")) found.push_back(name);
    }
    return found.size() > before ? "" : "no such file or folder";
  }
  // The whole file, as support's ReadNoLink reads it.
  std::string Read(const std::string& file, std::uint64_t limit, std::string& contents) {
    if (unreadable.contains(file)) return "access denied";
    if (stored.at(file).size() > limit) return "too large";
    contents = stored.at(file);
    return {};
  }
  // In small chunks, so that lines cross them; a file in `cutOff` fails after its first chunk.
  std::set<std::string> cutOff;
  std::string ReadChunks(const std::string& file, Chunks& into) override {
    if (unreadable.contains(file)) return "access denied";
    const std::string_view contents = stored.at(file);
    for (std::size_t at = 0; at < contents.size(); at += 1000) {
      into.Take(contents.substr(at, 1000));
      if (cutOff.contains(file)) return "the network name is no longer available";
    }
    return {};
  }
  std::string Write(const std::string& file, std::string_view contents) override {
    if (unwritable.contains(file)) return "access denied";
    stored[std::string(file)] = contents;
    return {};
  }
};

// Support's view of a PC: a switch, the recorder's presence and files gathered from FakeFiles.
class FakeSupportDesk : public platform::SupportDesk {
 public:
  bool recording = false;
  bool recorderPresent = false;
  std::string recordingsFolderRefusal;  // empty: the recorder would record in its folder
  std::int64_t recordingSince = 0;
  std::vector<Gathered> supportFiles;  // each one's size is its stored contents'
  FakeFiles* files = nullptr;          // where ReadNoLink reads and CreateArchive writes

  std::string SetRecording(bool on) override {
    recording = on;
    return {};
  }
  bool RecordingOn() override { return recording; }
  std::int64_t RecordingSince() override { return recording ? recordingSince : 0; }
  bool RecorderPresent() override { return recorderPresent; }
  std::string RecorderRefusal() override { return recorderPresent ? "" : "it is not there"; }
  std::string RecordingsFolderRefusal() override { return recordingsFolderRefusal; }
  std::vector<Fact> Versions() override { return {{"Windows", "10.0.19045"}}; }
  std::vector<Gathered> SupportFiles() override {
    std::vector<Gathered> listed = supportFiles;
    for (Gathered& file : listed) {
      if (files->stored.contains(file.path)) file.size = files->stored.at(file.path).size();
    }
    return listed;
  }
  std::string ReadNoLink(const std::string& path,
                         const std::function<void(std::string_view)>& take) override {
    struct Taker final : platform::Files::Chunks {
      const std::function<void(std::string_view)>& take;
      explicit Taker(const std::function<void(std::string_view)>& t) : take(t) {}
      void Take(std::string_view chunk) override { take(chunk); }
    } taker(take);
    return files->ReadChunks(path, taker);
  }
  // The named file, else support.zip, support-2.zip, ...; an existing name is refused. Written
  // through as it comes, so a test sees what reached the file.
  std::unique_ptr<Output> CreateArchive(const std::string& named, std::string& path,
                                        std::string& error) override {
    path = named.empty() ? "support.zip" : named;
    for (int n = 2; named.empty() && files->stored.contains(path); ++n) {
      path = "support-" + std::to_string(n) + ".zip";
    }
    if (files->stored.contains(path)) {
      error = "it exists; name a new file";
      return nullptr;
    }
    if (files->unwritable.contains(path)) {
      error = "access denied";
      return nullptr;
    }
    files->stored[path];
    struct Appender final : Output {
      FakeFiles& files;
      std::string path;
      Appender(FakeFiles& f, std::string p) : files(f), path(std::move(p)) {}
      std::string Write(std::string_view bytes) override {
        if (files.unwritable.contains(path)) return "the disk is full";
        files.stored[path] += bytes;
        return {};
      }
    };
    return std::make_unique<Appender>(*files, path);
  }
};

// The person at the console: whether the run is interactive, and every message sent.
class FakeConsoleUser : public platform::ConsoleUser {
 public:
  bool interactive = true;
  std::string tellError;  // what Tell answers
  struct Told {
    std::string title, text;
    std::chrono::seconds timeout;
    bool underLock;  // the programming lock was held when it was sent
  };
  std::vector<Told> told;
  const bool* lock = nullptr;  // the programming lock's "held", read at each Tell

  bool Interactive() override { return interactive; }
  std::string Tell(std::string_view title, std::string_view text,
                   std::chrono::seconds timeout) override {
    told.push_back({std::string(title), std::string(text), timeout, lock && *lock});
    return tellError;
  }
};

// The machine's summary: every one written, and what Write answers.
class FakeStatusStore : public platform::StatusStore {
 public:
  std::vector<platform::StatusSummary> written;
  std::string writeError;
  std::string Write(const platform::StatusSummary& summary) override {
    if (writeError.empty()) written.push_back(summary);
    return writeError;
  }
};

class FakeConsole final : public FakeOutput,
                          public FakeProgressLine,
                          public FakeInterrupts,
                          public FakeDeviceChanges,
                          public FakeElevation,
                          public FakeLogFile,
                          public FakeEventLog,
                          public FakeFiles,
                          public FakeLineInput,
                          public FakeSupportDesk,
                          public FakeConsoleUser,
                          public FakeStatusStore {
 public:
  using FakeOutput::FromAnsi;
  FakeConsole() { FakeSupportDesk::files = this; }
  platform::ConsoleServices Services(FakeSystem& system) {
    return {system.modules,
            system.faults,
            system.versionRecord,
            system.sleepAndShutdown,
            system.programmingLock,
            system.attempts,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this,
            *this};
  }
};

}  // namespace fakes
