// Runs a number of whole scans and nothing else, for instruction counts under callgrind and as a
// check of the scan's heap use.
// Usage: scan_repeat SCANS [--max-allocs-per-scan N] [--world NAME]
//   Prints "scans=S allocs_per_scan=A bytes_per_scan=B worst_scan_allocs=W". Exits 1 when the
//   world does not lead the scan to its outcome, or (with --max-allocs-per-scan) when any scan
//   allocates more than N times.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/ScanAndShow.h"
#include "bench/ScanFixture.h"
#include "device/Scan.h"

namespace {

// Whether a scan in `world` takes the road the world is meant for, so the figures measure that.
bool TakesIntendedRoad(bench::World world, updatelib::LibraryGateway& library) {
  const device::ScanReport report = device::ScanDevices(library);
  switch (world) {
    case bench::World::UpdateRequired:
      return report.outcome == device::ScanOutcome::UpdateRequired;
    case bench::World::UpToDate:
      return report.outcome == device::ScanOutcome::UpToDate;
    case bench::World::NoDevice:
      return report.outcome == device::ScanOutcome::NoDevice;
    case bench::World::MultipleDevices:
      return report.outcome == device::ScanOutcome::MultipleDevices;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  long scans = 0;
  long maxAllocs = -1;
  bench::World world = bench::World::UpdateRequired;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--max-allocs-per-scan" && i + 1 < argc) {
      maxAllocs = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--world" && i + 1 < argc) {
      const std::string_view name = argv[++i];
      bool known = false;
      for (bench::World candidate : {bench::World::UpdateRequired, bench::World::UpToDate,
                                     bench::World::NoDevice, bench::World::MultipleDevices}) {
        if (bench::NameOf(candidate) == name) {
          world = candidate;
          known = true;
        }
      }
      if (!known) {
        std::fprintf(stderr, "scan_repeat: unknown world %s\n", argv[i]);
        return 2;
      }
    } else {
      scans = std::strtol(argv[i], nullptr, 10);
    }
  }
  if (scans <= 0) {
    std::fprintf(stderr, "usage: scan_repeat SCANS [--max-allocs-per-scan N] [--world NAME]\n");
    return 2;
  }

  bench::UseWorld(world);
  platform::UnguardedCalls direct;
  updatelib::LibraryGateway library(bench::SimulatedLibrary(), direct);
  app::SharedState shared;
  bench::NoOpControls controls;
  if (!TakesIntendedRoad(world, library)) {
    std::fprintf(stderr, "scan_repeat: the %s world does not lead the scan where it should\n",
                 std::string(bench::NameOf(world)).c_str());
    return 1;
  }

  std::size_t worst = 0;
  const bench::AllocationTally start = bench::Allocations();
  for (long i = 0; i < scans; ++i) {
    const std::size_t before = bench::Allocations().count;
    app::ScanAndShow(library, shared, controls);
    const std::size_t used = bench::Allocations().count - before;
    if (used > worst) worst = used;
  }
  const bench::AllocationTally end = bench::Allocations();

  std::printf("scans=%ld allocs_per_scan=%.2f bytes_per_scan=%.1f worst_scan_allocs=%zu\n", scans,
              static_cast<double>(end.count - start.count) / static_cast<double>(scans),
              static_cast<double>(end.bytes - start.bytes) / static_cast<double>(scans), worst);
  if (maxAllocs >= 0 && worst > static_cast<std::size_t>(maxAllocs)) {
    std::fprintf(stderr, "scan_repeat: a %s scan allocated %zu times, more than %ld\n",
                 std::string(bench::NameOf(world)).c_str(), worst, maxAllocs);
    return 1;
  }
  return 0;
}
