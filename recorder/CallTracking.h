// Call tracking: the recorded calls running now, watched for the messages the library handles
// and for a fault while they run, each written as its line when it ends (or when it faults).
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "recording/Recording.h"

namespace recorder {

// Starts recording a call and gives its place among the calls running: the hooks and the fault
// handler are there only while a call runs.
std::size_t BeginCall(const char* name, std::vector<Field> in);
// Ends the call at `place` with its result and out-values, writing its line.
void EndCall(std::size_t place, int result, std::vector<Field> out);
// Forgets the call at `place` and every call above it (nested calls that faulted and never came
// back); the hooks go with the last call.
void ForgetCall(std::size_t place);
// Takes the hooks and the fault handler away; nothing of the recorder's may outlive its code.
void StopWatching();

// Passes one call through, recording it. `in` gives the argument fields, `call` makes the call,
// `fill` adds the out-values once it has returned. The recording's own trouble never reaches the
// program: the call is made whatever happens to its record.
template <typename In, typename Call, typename Fill>
int Recorded(const char* name, In in, Call call, Fill fill) {
  std::optional<std::size_t> place;
  try {
    place = BeginCall(name, in());
  } catch (...) {
  }
  const int result = call();
  if (place) {
    try {
      std::vector<Field> out;
      fill(out);
      EndCall(*place, result, std::move(out));
    } catch (...) {
      ForgetCall(*place);
    }
  }
  return result;
}

}  // namespace recorder
