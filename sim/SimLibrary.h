// The simulated update library's behaviour behind the twelve called entry points, portable so
// that it runs natively in unit tests; ZRFWUpdateDll.cpp only adapts it to the DLL's exports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sim/Scenario.h"
#include "sim/SimulatedLibrary.h"

namespace sim {

// What the hosting process provides. A missing hook does nothing.
struct SimHost {
  std::string scenarioFile;                       // empty: the built-in default world
  std::function<void(const std::string&)> log;    // one call-log line, without newline
  std::function<void(const std::string&)> error;  // a problem worth telling a person (stderr)
  std::function<void(int ms)> sleep;              // blocks the calling thread, pumping nothing
  // Runs a message loop on the calling thread for ms milliseconds, dispatching whatever the
  // thread receives; the program's handlers may call into the library meanwhile.
  std::function<void(int ms)> pump;
  // Raises an access violation in the calling thread; does not return in the DLL. A host that
  // binds the library in-process may throw instead: the exception leaves through the entry point.
  std::function<void()> crash;
  // Shows the library's note (a top-level window titled NoteTitle on the calling thread) and
  // returns at once, leaving it open; false when the note is still open from an earlier call.
  std::function<bool()> showNote;
  // Raises the structured exception `code` in the calling thread (a replayed fault, a C++
  // throw), non-continuable; does not return in the DLL. Missing: crash.
  std::function<void(std::uint32_t code)> raise;
  // Runs a message loop on the calling thread, as a modal box does, until the note is closed or
  // ms have passed; true when it was closed.
  std::function<bool(int ms)> waitForNote;
  // Recurses without bound until the calling thread's stack overflows; does not return in the
  // DLL. Missing: raise with StackOverflowCode.
  std::function<void()> overflow;
};

// Answers calls from the current world. With a scenario file the world is re-read at every
// device-list call (and loaded lazily before the first call of any kind); a malformed file
// leaves a world without devices. A world given to the constructor is held in memory instead:
// never re-read, changed only by programming and by the host through World(). Not thread-safe:
// the host calls from one thread.
//
// Every call first misbehaves as the world's stall, message-window, modal-message, pump and then
// crash, throw or overflow keys say for its entry point (in that order; a device-list call after
// re-reading the world, the others in the world of the last read), logging each before it
// happens. A crashing (throwing, overflowing) call does no work: when its hook returns, the call
// returns 0 without a result line. A call that starts while another
// one is still running (re-entered from a pumping call) appends " nested" to each of its log lines.
class SimLibrary final : public SimulatedLibrary {
 public:
  explicit SimLibrary(SimHost host);
  SimLibrary(SimHost host, Scenario world);

  // Program sleeps for the device's programming time, then records the pending version (in the
  // file when one is in use) and returns the configured result. A device that vanished from the
  // file meanwhile fails the call. The file is re-read, changed and saved without a lock, so a
  // usbsim change landing in that instant is lost; good enough for a simulator.
  SIM_OVERRIDE_LIBRARY_CALLS

  const Scenario& World() const { return world_; }
  // The world a host may change between calls (and inside its hooks: a call has read the
  // misbehaviour keys it acts on before it runs a hook).
  Scenario& World() { return world_; }
  SimHost& Host() { return host_; }
  // Calls running now, re-entered ones included; a crashing call has left already.
  int CallDepth() const { return depth_; }

 private:
  class Call;

  void Reload();
  void EnsureLoaded();
  const SimDevice* Find(const Call& call, const char* path);
  // Whether anyone reads the call log: its lines are only made when so.
  bool Logging() const { return static_cast<bool>(host_.log); }
  void Log(const std::string& line);

  SimHost host_;
  Scenario world_;
  bool inMemory_ = false;
  bool loaded_ = false;
  int depth_ = 0;
};

// A path or text for the call log: in double quotes, with '"' as \" and bytes outside
// printable ASCII as \xNN.
std::string Quote(std::string_view text);

// As a library that reuses the caller's array as scratch space after writing the paths: a
// program that reads through the pointers afterwards finds nothing or faults.
void OverwriteSlotPointers(char** paths);

}  // namespace sim
