// The simulated update library in the fixed worlds of the scan benchmarks; see ScanFixture.h.
#include "bench/ScanFixture.h"

#include "sim/InProcess.h"

namespace bench {
namespace {

constexpr char FirstPath[] =
    "\\\\?\\usb#vid_0001&pid_0002#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr char SecondPath[] =
    "\\\\?\\usb#vid_0001&pid_0002#0002#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

sim::SimDevice Device(const char* path, const char* version) {
  sim::SimDevice device;
  device.path = path;
  device.version = version;
  device.vendor = "BENCHVEN";
  device.product = "Bridge Product";
  return device;
}

sim::Scenario WorldOf(World world) {
  sim::Scenario scenario;
  switch (world) {
    case World::UpdateRequired:
      scenario.devices = {Device(FirstPath, "00.01.01.05")};
      break;
    case World::UpToDate:
      scenario.devices = {Device(FirstPath, "00.01.01.07")};
      break;
    case World::NoDevice:
      break;
    case World::MultipleDevices:
      scenario.devices = {Device(FirstPath, "00.01.01.05"), Device(SecondPath, "00.01.01.05")};
      break;
  }
  return scenario;
}

// No call log and no hooks: the library answers at once.
sim::InProcessLibrary& Bound() {
  static sim::InProcessLibrary library(WorldOf(World::UpdateRequired), {},
                                       [](bool inside) { PauseCounting(inside); });
  return library;
}

}  // namespace

std::string_view NameOf(World world) {
  switch (world) {
    case World::UpdateRequired:
      return "update-required";
    case World::UpToDate:
      return "up-to-date";
    case World::NoDevice:
      return "no-device";
    case World::MultipleDevices:
      return "multiple-devices";
  }
  return "?";
}

void UseWorld(World world) { Bound().World() = WorldOf(world); }

updatelib::EntryPointTable SimulatedLibrary() {
  updatelib::EntryPointTable table;
  updatelib::LoadUpdateLibrary(Bound(), table);
  return table;
}

}  // namespace bench
