// What the programs remember between runs: one record of the last programming attempt on each
// device, kept where only administrators can write (on Windows under HKLM\SOFTWARE\Flashwright).
// The rules about the records are the engine's (update/Attempts.h); this only keeps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A running or ended process, as a record names it: the id alone may be reused by a later process.
struct ProcessIdentity {
  std::uint32_t id = 0;
  std::uint64_t created = 0;  // the process's creation time, in the system's own units
};

struct AttemptRecord {
  std::string path;           // the device path, the library's bytes
  std::string identity;       // the library's bytes, trimmed
  std::string versionBefore;  // the library's bytes
  std::string program;        // which program made the attempt (see update::ProgramName)
  ProcessIdentity process;
  std::int64_t started = 0;  // seconds since 1970-01-01 UTC
  std::string outcome;       // "" while the call runs, then "updated" or "failed"
  std::int64_t ended = 0;    // seconds since 1970-01-01 UTC; 0 while the call runs
  // A complete device list was seen without the device since the attempt ended: it has been
  // unplugged (powered off) at least once.
  bool seenGone = false;
  // The name the record was read under (Load); empty for a record not read from the store.
  std::string key;
};

class AttemptStore {
 public:
  virtual ~AttemptStore() = default;
  // Every record kept, each with the name it is kept under. A record that cannot be read whole is
  // left out.
  virtual std::vector<AttemptRecord> Load() = 0;
  // Keeps `record` under KeyOf(record.path), replacing any earlier one there, and has it on disk
  // before returning (its `key` is not used). Returns an error text, empty on success.
  virtual std::string Save(const AttemptRecord& record) = 0;
  // Forgets the record kept under `key` (a record's `key` from Load); harmless when there is none.
  virtual void Remove(const std::string& key) = 0;
  // The name a record of the device at `path` is kept under. A record read under another name
  // was not written there by Save: it is not the device's record.
  virtual std::string KeyOf(const std::string& path) = 0;
  // When the device at `path` last arrived while the system ran (plugged in, or powered on), in
  // seconds since 1970-01-01 UTC; nothing when the system cannot tell, and nothing for an arrival
  // as the system started: many PCs keep their USB ports powered through a restart, so that is no
  // power cycle of the device.
  virtual std::optional<std::int64_t> LastArrival(const std::string& path) = 0;
  // The calling process.
  virtual ProcessIdentity Self() = 0;
  // Whether that process is still running.
  virtual bool Running(const ProcessIdentity& process) = 0;
  // The time now, in seconds since 1970-01-01 UTC.
  virtual std::int64_t Now() = 0;
};

}  // namespace platform
