// Counts, for the probe build of Flashwright (see Probe.h), every global operator new of the
// program's own code, the standard library's included. Allocations that the system's DLLs make
// for themselves are not seen, nor those of another module (the update library has a runtime of
// its own).
#include "bench/CountingNew.h"
#include "bench/win32/Probe.h"

void bench::CountAllocation(std::size_t size) noexcept {
  fwbench::probe::Block& block = fwbench::probe::SharedBlock();
  InterlockedIncrement(&block.allocations);
  InterlockedExchangeAdd(&block.allocatedBytes, static_cast<LONG>(size));
}
