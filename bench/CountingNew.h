// Replaces the global operator new and delete of the program that includes this, so that a
// benchmark can count the heap allocations of the program's own code. Include it in exactly one
// source file, which defines `bench::CountAllocation`; the over-aligned forms are left to it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace bench {

// Called once per allocation, before the memory is taken; must not throw.
void CountAllocation(std::size_t size) noexcept;

namespace counting {
inline void* Allocate(std::size_t size) {
  CountAllocation(size);
  // malloc(0) may return null; operator new must not.
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
inline void* AllocateOrNull(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
}  // namespace counting

}  // namespace bench

void* operator new(std::size_t size) { return bench::counting::Allocate(size); }
void* operator new[](std::size_t size) { return bench::counting::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return bench::counting::AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return bench::counting::AllocateOrNull(size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
