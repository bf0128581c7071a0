// What a run under a deployment system leaves for people who are not at its console: a message to
// the person at the PC when a device waits for its power cycle, and the machine's summary where an
// inventory tool reads it. Windows implementations in platform/win32 (ConsoleUser.cpp,
// StatusRegistry.cpp), fakes in the unit tests.
//
// Text crosses these interfaces as UTF-8.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The person logged on at the PC's console, seen from a program that may run without a desktop.
class ConsoleUser {
 public:
  virtual ~ConsoleUser() = default;
  // Whether the program runs in a session a person sees (their own prompt, a remote desktop):
  // false only in session 0, where services run and a deployment system runs it as SYSTEM. A
  // session that cannot be told counts as interactive, so nobody is told twice.
  virtual bool Interactive() = 0;
  // Shows `title` and `text` in a message box in the active console session, without waiting for
  // an answer; the box closes by itself after `timeout`. Returns why it could not be shown (nobody
  // is logged on at the console, the system refused), empty once it was handed over. Never throws
  // and never blocks beyond the system's call.
  virtual std::string Tell(std::string_view title, std::string_view text,
                           std::chrono::seconds timeout) = 0;
};

// The machine's summary of the last run that looked at the devices. Every text is ASCII.
struct StatusSummary {
  std::string target;   // the firmware version the program brings devices to
  std::string state;    // the worst device's word, or the run's when it found none
  std::string devices;  // one word per device, in the order status lists them, by spaces
  std::uint32_t deviceCount = 0;
  std::string lastLook;        // when it looked, UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::uint32_t exitCode = 0;  // the run's exit code
  std::string program;         // which program ran
  std::string command;         // and which command
};

class StatusStore {
 public:
  virtual ~StatusStore() = default;
  // Replaces the summary kept for inventory tools (on Windows under
  // HKLM\SOFTWARE\Flashwright\Status, which only administrators may write). Returns an error text,
  // empty on success.
  virtual std::string Write(const StatusSummary& summary) = 0;
};

}  // namespace platform
