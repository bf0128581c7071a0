// Fuzz target for the simulator's scenario parser: any bytes give either a scenario or an error
// naming a line, and a parsed scenario comes back unchanged through its text form.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzInput.h"
#include "sim/Scenario.h"

namespace {

constexpr std::string_view FileName = "fuzzed.scenario";

// Lines as the parser counts them: a final line without a newline counts, an empty tail not.
std::size_t LineCount(std::string_view text) {
  const auto newlines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return newlines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

// "<file>:<line>: <what>" with a line inside the text and something to say.
void CheckErrorNamesALine(const std::string& error, std::string_view text) {
  const std::string prefix = std::string(FileName) + ":";
  FUZZ_CHECK(error.starts_with(prefix));
  std::size_t at = prefix.size();
  std::size_t line = 0;
  while (at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 100000000) {
    line = line * 10 + static_cast<std::size_t>(error[at++] - '0');
  }
  FUZZ_CHECK(at > prefix.size());
  FUZZ_CHECK(line >= 1 && line <= LineCount(text));
  FUZZ_CHECK(error.compare(at, 2, ": ") == 0);
  FUZZ_CHECK(error.size() > at + 2);
}

// What the simulator relies on in a world it was handed.
void CheckSound(const sim::Scenario& scenario) {
  FUZZ_CHECK(sim::CheckScenario(scenario).empty());
  FUZZ_CHECK(scenario.devices.size() <= sim::MaxDevices);
  FUZZ_CHECK(scenario.library.inquiryBytes.size() <= sim::MaxInquiryBytes);
  for (const sim::SimDevice& device : scenario.devices) {
    FUZZ_CHECK(device.path.size() <= sim::MaxPathLength);
    FUZZ_CHECK(device.path.find('\0') == std::string::npos);  // it would cut the path short
    FUZZ_CHECK(device.version.size() <= sim::MaxVersionLength);
    FUZZ_CHECK(device.programVersion.size() <= sim::MaxVersionLength);
    FUZZ_CHECK(device.pendingVersion.size() <= sim::MaxVersionLength);
    FUZZ_CHECK(device.vendor.size() <= sim::MaxVendorLength);
    FUZZ_CHECK(device.product.size() <= sim::MaxProductLength);
    FUZZ_CHECK(device.programMs >= 0 && device.programMs <= sim::MaxProgramMs);
    FUZZ_CHECK(sim::FindDevice(scenario, device.path) == &device - scenario.devices.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sim::ParseResult parsed = sim::ParseScenario(text, FileName);
  if (!parsed.scenario) {
    CheckErrorNamesALine(parsed.error, text);
    return 0;
  }
  FUZZ_CHECK(parsed.error.empty());
  CheckSound(*parsed.scenario);

  const std::string written = sim::SerializeScenario(*parsed.scenario);
  const sim::ParseResult again = sim::ParseScenario(written, "written.scenario");
  if (!again.scenario) std::fprintf(stderr, "round trip: %s\n", again.error.c_str());
  FUZZ_CHECK(again.scenario.has_value());
  FUZZ_CHECK(*again.scenario == *parsed.scenario);
  FUZZ_CHECK(sim::SerializeScenario(*again.scenario) == written);
  return 0;
}
