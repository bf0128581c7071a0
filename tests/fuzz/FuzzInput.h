// What the fuzz targets share: a small reader that turns the fuzzer's bytes into values, and a
// check that stops the run hard, so that libFuzzer and the replay tests both see a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Stops at once when `condition` is false: the fuzzer keeps the input as a reproducer.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::fflush(stderr);                                                               \
      __builtin_trap();                                                                  \
    }                                                                                    \
  } while (0)

namespace fuzz {

// Reads values front to back. An exhausted input reads as zero bytes, so every input, however
// short, decodes to a complete set of values and a longer input only refines it.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Exhausted() const { return offset_ >= size_; }

  std::uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }

  bool Bool() { return (Byte() & 1) != 0; }

  // Small values are cheap (one byte, -127..127); the marker byte 0x80 announces four bytes of a
  // full 32-bit value, little-endian, for the extremes.
  std::int32_t Int() {
    const std::uint8_t first = Byte();
    if (first != 0x80) return static_cast<std::int8_t>(first);
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) value |= std::uint32_t{Byte()} << shift;
    return static_cast<std::int32_t>(value);
  }

  // A count in 0..max, from one byte (or two when max needs them).
  std::size_t Size(std::size_t max) {
    std::size_t raw = Byte();
    if (max > 255) raw |= std::size_t{Byte()} << 8;
    return raw % (max + 1);
  }

  // Copies the next `count` bytes to `out`, zero bytes past the end of the input.
  void Bytes(void* out, std::size_t count) {
    const std::size_t available = offset_ < size_ ? size_ - offset_ : 0;
    const std::size_t taken = count < available ? count : available;
    if (taken != 0) std::memcpy(out, data_ + offset_, taken);
    std::memset(static_cast<unsigned char*>(out) + taken, 0, count - taken);
    offset_ += taken;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

}  // namespace fuzz
