// Replay: the simulated library answering from a recording of the real one instead of from a
// scenario, and what usbsim makes of a recording (the divergences of a replay, a scenario).
// Portable, like SimLibrary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "recording/Recording.h"
#include "sim/Scenario.h"
#include "sim/SimLibrary.h"
#include "sim/SimulatedLibrary.h"

namespace sim {

// Answers each call with the recording's next one when that is the same call (entry point and
// arguments): its out-values, its result, after its time (pumping messages for it when the
// library handled messages, else sleeping), or its fault (the host's raise hook, else crash).
// Anything else is a divergence: logged with both sides, answered with 0 and no out-value, and
// the recording stays where it was. Logged, one line each:
//   replay <the recorded line>
//   divergence asked: NAME k=v ... recorded: <the recorded line> | the recording has ended
// Not thread-safe; re-entered calls are answered in the order they start, as recorded.
class Replayer final : public SimulatedLibrary {
 public:
  Replayer(SimHost host, recorder::Recording recording);

  SIM_OVERRIDE_LIBRARY_CALLS

  std::size_t Answered() const { return next_; }
  std::size_t Divergences() const { return divergences_; }
  // "replay end answered=N of M divergences=D", for the call log when the library goes.
  std::string EndLine() const;

 private:
  // The recorded call answering this one, or nullptr after logging the divergence.
  const recorder::RecordedCall* Next(std::string_view name, const std::vector<recorder::Field>& in);
  // Takes the recorded time; false when the call faulted (the raise hook returned).
  bool Behave(const recorder::RecordedCall& call);
  void Log(const std::string& line) const;

  SimHost host_;
  recorder::Recording recording_;
  std::size_t next_ = 0;
  std::size_t divergences_ = 0;
};

// The divergences of a replay from its call log: each "divergence" line, and the recorded calls
// the program never asked for (from the "replay" lines' count). Empty: the replay matched.
std::vector<std::string> ReplayDivergences(const recorder::Recording& recording,
                                           const std::vector<std::string>& logLines);

// A scenario of the devices as the recording last listed them, each with what the calls about it
// last returned (results, chip type, mode, version, identification, programming's result and
// time), and the library's misbehaviour: a call that handled messages becomes a pump, one that
// took 100 ms or more without programming a stall, one that faulted a crash (each by its
// entry point, at its longest). A starting point for a hand-edited test scenario.
Scenario ScenarioFromRecording(const recorder::Recording& recording);

}  // namespace sim
