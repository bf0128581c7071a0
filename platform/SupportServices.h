// What support's commands need of the system: the recording switch, what is installed beside the
// programs, and the files and facts a support archive gathers. Windows implementation in
// platform/win32/SupportDesk.h, a fake in the unit tests. Text is UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class SupportDesk {
 public:
  // A file to gather: its name in the archive and where it is.
  struct Gathered {
    std::string name;
    std::string path;
    std::uint64_t size = 0;  // as the folder listed it
  };
  // A new file being written, closed when destroyed. Write appends; an error text, empty on
  // success.
  class Output {
   public:
    virtual ~Output() = default;
    virtual std::string Write(std::string_view bytes) = 0;
  };
  // A fact: "Windows" and its version, a file and its version ("missing" when absent).
  struct Fact {
    std::string name;
    std::string value;
  };

  virtual ~SupportDesk() = default;
  // Sets (on, with the time it was set) or removes (off) the machine's recording switch; an error
  // text, empty on success.
  virtual std::string SetRecording(bool on) = 0;
  virtual bool RecordingOn() = 0;
  // When the switch was last turned on, in UTC seconds since 1970; 0 when it is off or its time
  // was not kept (set by an earlier version).
  virtual std::int64_t RecordingSince() = 0;
  // Whether the recorder is beside the programs, and if it would not be bound, why not (empty
  // when it would be).
  virtual bool RecorderPresent() = 0;
  virtual std::string RecorderRefusal() = 0;
  // Why the recorder would refuse its folder (%ProgramData%\Flashwright\recordings: a link, an
  // owner or access list it does not trust) and record nothing, by the recorder's own check; empty
  // when it would record there. Makes the folder when it is missing, as the recorder does.
  virtual std::string RecordingsFolderRefusal() = 0;
  // The versions support asks for: the programs', the recorder's, the library's and Windows'.
  virtual std::vector<Fact> Versions() = 0;
  // The recordings and the logs, in the data folder, in the order to gather them.
  virtual std::vector<Gathered> SupportFiles() = 0;
  // Reads a file chunk by chunk, not through a link; an error text, empty when it was read to its
  // end (the chunks before an error were taken).
  virtual std::string ReadNoLink(const std::string& path,
                                 const std::function<void(std::string_view)>& take) = 0;
  // Makes the archive's file new, never replacing one and never through a link: `named`, or when
  // it is empty a name of this computer and time in the running user's own folder (another name
  // when that one is taken). Its full path in `path`; null, with the reason in `error`, when it
  // cannot be made.
  virtual std::unique_ptr<Output> CreateArchive(const std::string& named, std::string& path,
                                                std::string& error) = 0;
};

}  // namespace platform
