// Counts, for the probe build of Flashwright (see Probe.h), every global operator new of the
// program's own code, the standard library's included. Allocations that the system's DLLs make
// for themselves are not seen, nor those of another module (the update library has a runtime of
// its own).
#include <cstdlib>
#include <new>

#include "bench/win32/Probe.h"

namespace {

void* Allocate(std::size_t size) {
  fwbench::probe::Block& block = fwbench::probe::SharedBlock();
  InterlockedIncrement(&block.allocations);
  InterlockedExchangeAdd(&block.allocatedBytes, static_cast<LONG>(size));
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
