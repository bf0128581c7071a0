// A ZIP archive written as it goes: each entry deflated (zlib) straight to where the archive goes,
// its CRC-32 and sizes in a data descriptor after it, names in UTF-8 (flagged as such), and the
// central directory at the end. Enough for any unzip tool, Windows' own included, to open it.
// Only the central directory is kept in memory. No ZIP64: an archive that would pass 4 GiB or
// 65,535 entries is refused (collect keeps its total far below that).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cli {

class ZipArchive {
 public:
  // Takes the archive's bytes in order; an error text, empty when they were written.
  using Sink = std::function<std::string(std::string_view)>;

  // `utcSeconds` (since 1970) is every entry's modification time, in the format's two-second
  // steps from 1980.
  ZipArchive(Sink sink, std::int64_t utcSeconds);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // An entry in three steps: Begin, any number of Write, End. Each returns an error text, empty
  // on success. Begin refuses an empty name, one longer than 65,535 bytes, or an archive already
  // at 65,535 entries; End refuses an entry that took the archive past 4 GiB. After an error from
  // the sink, everything fails with that error: the archive is not usable.
  std::string Begin(std::string_view name);
  std::string Write(std::string_view bytes);
  std::string End();
  // Begin, Write and End at once.
  std::string Add(std::string_view name, std::string_view contents);
  // The central directory and its end record; the archive is complete when this succeeds.
  std::string Finish();

  std::size_t Entries() const { return entries_; }
  std::uint64_t BytesWritten() const { return offset_; }

 private:
  struct Deflater;
  std::string Emit(std::string_view bytes);

  Sink sink_;
  std::unique_ptr<Deflater> deflater_;  // the open entry's; null between entries
  std::string directory_;               // central directory records
  std::string error_;                   // the sink's first error, or a broken limit
  std::uint64_t offset_ = 0;            // bytes written so far
  std::uint64_t entryOffset_ = 0;       // where the open entry's local header starts
  std::string entryName_;
  std::size_t entries_ = 0;
  std::uint16_t dosTime_ = 0;
  std::uint16_t dosDate_ = 0;
};

}  // namespace cli
