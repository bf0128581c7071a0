// What support's commands need of the system: the recording switch, what is installed beside the
// programs, and the files and facts a support archive gathers. Windows implementation in
// platform/win32/SupportDesk.h, a fake in the unit tests. Text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class SupportDesk {
 public:
  // A file to gather: its name in the archive and where it is.
  struct Gathered {
    std::string name;
    std::string path;
  };
  // A fact: "Windows" and its version, a file and its version ("missing" when absent).
  struct Fact {
    std::string name;
    std::string value;
  };

  virtual ~SupportDesk() = default;
  // Sets (on) or removes (off) the machine's recording switch; an error text, empty on success.
  virtual std::string SetRecording(bool on) = 0;
  virtual bool RecordingOn() = 0;
  // Whether the recorder is beside the programs, and if it would not be bound, why not (empty
  // when it would be).
  virtual bool RecorderPresent() = 0;
  virtual std::string RecorderRefusal() = 0;
  // The versions support asks for: the programs', the recorder's, the library's and Windows'.
  virtual std::vector<Fact> Versions() = 0;
  // The recordings and the logs, in the data folder, in the order to gather them.
  virtual std::vector<Gathered> SupportFiles() = 0;
  // Reads a whole file, not through a link; an error text, empty on success.
  virtual std::string ReadNoLink(const std::string& path, std::uint64_t limit,
                                 std::string& contents) = 0;
  // Where an archive goes when none is named: a new name for this computer and time.
  virtual std::string DefaultArchivePath() = 0;
};

}  // namespace platform
