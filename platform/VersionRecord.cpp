// Reading the fixed file version from a version record, and its text; see VersionRecord.h.
#include "platform/VersionRecord.h"

namespace platform {

std::optional<FileVersion> FixedFileVersion(const unsigned char* record, std::size_t size) {
  constexpr std::uint32_t Signature = 0xFEEF04BD;
  constexpr std::size_t FixedPartSize = 52;
  auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(record[at]) |
           static_cast<std::uint32_t>(record[at + 1]) << 8 |
           static_cast<std::uint32_t>(record[at + 2]) << 16 |
           static_cast<std::uint32_t>(record[at + 3]) << 24;
  };
  if (record == nullptr) return std::nullopt;
  // The fixed part is 32-bit aligned and starts after the header and its key "VS_VERSION_INFO".
  for (std::size_t at = 0; at + FixedPartSize <= size; at += 4) {
    if (word(at) == Signature) return FileVersion{word(at + 8), word(at + 12)};
  }
  return std::nullopt;
}

std::string VersionText(const FileVersion& version) {
  return std::to_string(version.mostSignificant >> 16) + "." +
         std::to_string(version.mostSignificant & 0xFFFF) + "." +
         std::to_string(version.leastSignificant >> 16) + "." +
         std::to_string(version.leastSignificant & 0xFFFF);
}

}  // namespace platform
