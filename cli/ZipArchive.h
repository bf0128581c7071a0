// A ZIP archive written in memory: entries stored as they are (no compression), each with its
// CRC-32, names in UTF-8 (flagged as such), a local header before each entry and the central
// directory at the end. Enough for any unzip tool, Windows' own included, to open it. No ZIP64:
// an archive is refused past 4 GiB or 65,535 entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// The CRC-32 of `bytes` (the ZIP and PNG one: polynomial 0xEDB88320, reflected).
std::uint32_t Crc32(std::string_view bytes);

class ZipArchive {
 public:
  // `utcSeconds` (since 1970) is every entry's modification time, in the format's two-second
  // steps from 1980.
  explicit ZipArchive(std::int64_t utcSeconds);
  // Adds an entry; false (and nothing added) when the archive would outgrow the format, or the
  // name is empty or longer than 65,535 bytes.
  bool Add(std::string_view name, std::string_view contents);
  // The whole archive: the entries, then the central directory and its end record.
  std::string Finish() const;
  std::size_t Entries() const { return entries_; }

 private:
  std::string body_;       // local headers and contents
  std::string directory_;  // central directory records
  std::size_t entries_ = 0;
  std::uint16_t dosTime_ = 0;
  std::uint16_t dosDate_ = 0;
};

}  // namespace cli
