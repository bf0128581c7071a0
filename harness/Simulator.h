// The device simulator as the harness's users see it: its call log, read while the program runs
// with the time each line turned up, and usbsim, which changes the simulated world.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "harness/Driver.h"

namespace e2e {

using Clock = std::chrono::steady_clock;

// The lines of a text file (a trailing "\r" dropped); none when it cannot be read.
std::vector<std::string> ReadLines(const std::filesystem::path& file);
// The lines indented, one a line, for failure messages.
std::string Join(const std::vector<std::string>& lines);

// The simulator's call log, read incrementally. The library appends whole lines and closes the
// file after each, so a line is complete once its "\n" is on disk; each complete line is stamped
// with the time this reader first saw it, which is never earlier than the call itself.
class CallLog {
 public:
  struct Entry {
    std::string text;
    Clock::time_point seen;
  };
  using Predicate = std::function<bool(const std::string&)>;

  explicit CallLog(std::filesystem::path file) : file_(std::move(file)) {}

  // Reads what was appended since the last read.
  void Refresh();
  // All lines read so far (after a Refresh).
  const std::vector<Entry>& Entries();
  std::size_t Size() { return Entries().size(); }

  // Index of the first line from `from` on that satisfies `match`, polling the file (every few
  // milliseconds, so the stamps are close) until `timeout`; nothing if none turned up.
  std::optional<std::size_t> WaitFor(const Predicate& match, std::size_t from, Millis timeout);
  // Lines from `from` on (up to `to`, exclusive) that satisfy `match`.
  std::size_t Count(const Predicate& match, std::size_t from = 0, std::size_t to = SIZE_MAX);

  // The texts, for failure messages.
  std::string Dump();

 private:
  std::filesystem::path file_;
  std::uintmax_t offset_ = 0;
  std::string partial_;
  std::vector<Entry> entries_;
};

// Matchers for call-log lines.
CallLog::Predicate StartsWith(std::string prefix);
// The device-list call that starts every scan.
bool IsDeviceListCall(const std::string& line);
// Any call about one device (chip type, mode, version, image, inquiry, programming).
bool IsPerDeviceCall(const std::string& line);

// Runs usbsim from `binDir` on `scenario` with `args` (e.g. "power-cycle") and waits for it;
// `announce` false adds --no-notify. Returns its exit code, nothing when it did not end in time.
std::optional<DWORD> RunUsbsim(const std::filesystem::path& binDir,
                               const std::filesystem::path& scenario, const std::string& args,
                               bool announce = true);

}  // namespace e2e
