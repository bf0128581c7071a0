// The program's version record: reading its fixed file version from the record's bytes, and the
// version's one text form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The fixed file version of a version record, as two 32-bit words: major and minor in the most
// significant word, build and release in the least, 16 bits each.
struct FileVersion {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
};

// The file version from a version record as stored in a program's resources: the fixed part
// follows the record's header, marked by its signature 0xFEEF04BD. Nothing when the bytes hold no
// complete fixed part.
std::optional<FileVersion> FixedFileVersion(const unsigned char* record, std::size_t size);

// The version as the programs show it: its four 16-bit parts in decimal, "a.b.c.d".
std::string VersionText(const FileVersion& version);

}  // namespace platform
