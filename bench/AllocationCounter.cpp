// Counts the heap allocations of the native benchmarks (see CountingNew.h). Single-threaded use
// is enough here; relaxed atomics keep it sound anyway.
#include <atomic>
#include <cstdlib>
#include <new>

#include "bench/CountingNew.h"
#include "bench/ScanFixture.h"

namespace {

std::atomic<std::size_t> allocationCount{0};
std::atomic<std::size_t> allocationBytes{0};
std::atomic<bool> countingPaused{false};

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  bench::CountAllocation(size);
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
  if (void* block = std::aligned_alloc(align, rounded)) return block;
  throw std::bad_alloc();
}

}  // namespace

namespace bench {
void CountAllocation(std::size_t size) noexcept {
  if (countingPaused.load(std::memory_order_relaxed)) return;
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  allocationBytes.fetch_add(size, std::memory_order_relaxed);
}

void PauseCounting(bool paused) noexcept {
  countingPaused.store(paused, std::memory_order_relaxed);
}

AllocationTally Allocations() {
  return {allocationCount.load(std::memory_order_relaxed),
          allocationBytes.load(std::memory_order_relaxed)};
}
}  // namespace bench

void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
