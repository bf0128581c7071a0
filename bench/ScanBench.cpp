// The cost of one whole scan of our own code: app::ScanAndShow against the simulated
// library bound in-process (no call log, no hooks) and controls that do nothing, in each world
// the scan can meet. Besides the time it reports the heap allocations and bytes per scan, the
// library's own left out.
#include <benchmark/benchmark.h>

#include "app/ScanAndShow.h"
#include "bench/ScanFixture.h"
#include "device/Scan.h"

namespace {

void BM_Scan(benchmark::State& state, bench::World world) {
  bench::UseWorld(world);
  platform::UnguardedCalls direct;
  updatelib::LibraryGateway library(bench::SimulatedLibrary(), direct);
  app::SharedState shared;
  bench::NoOpControls controls;

  const bench::AllocationTally before = bench::Allocations();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop
    app::ScanAndShow(library, shared, controls);
    benchmark::DoNotOptimize(shared);
    benchmark::ClobberMemory();
  }
  const bench::AllocationTally after = bench::Allocations();

  state.counters["allocs_per_scan"] = benchmark::Counter(
      static_cast<double>(after.count - before.count), benchmark::Counter::kAvgIterations);
  state.counters["bytes_per_scan"] = benchmark::Counter(
      static_cast<double>(after.bytes - before.bytes), benchmark::Counter::kAvgIterations);
  state.SetLabel(std::string(bench::NameOf(world)));
}

BENCHMARK_CAPTURE(BM_Scan, update_required, bench::World::UpdateRequired);
BENCHMARK_CAPTURE(BM_Scan, up_to_date, bench::World::UpToDate);
BENCHMARK_CAPTURE(BM_Scan, no_device, bench::World::NoDevice);
BENCHMARK_CAPTURE(BM_Scan, multiple_devices, bench::World::MultipleDevices);

}  // namespace

BENCHMARK_MAIN();
