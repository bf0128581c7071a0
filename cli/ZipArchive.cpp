// The ZIP writer; see ZipArchive.h. Layouts as the format's application note gives them.
#include "cli/ZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <limits>

namespace cli {
namespace {

constexpr std::uint16_t VersionNeeded = 20;   // 2.0: deflated entries in folders
constexpr std::uint16_t Flags = 0x800 | 0x8;  // UTF-8 names; CRC and sizes after the data
constexpr std::uint16_t Deflated = 8;
constexpr std::uint64_t Max32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t OutChunk = std::size_t{64} * 1024;

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

}  // namespace

// One entry's deflate stream (raw: the ZIP entry carries no zlib header) and its running CRC.
struct ZipArchive::Deflater {
  z_stream stream{};
  bool ready = false;
  std::uint32_t crc = 0;
  std::uint64_t in = 0;
  std::uint64_t out = 0;

  Deflater() {
    ready = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY) == Z_OK;
    crc = static_cast<std::uint32_t>(crc32(0, Z_NULL, 0));
  }
  ~Deflater() {
    if (ready) deflateEnd(&stream);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
};

ZipArchive::ZipArchive(Sink sink, std::int64_t utcSeconds) : sink_(std::move(sink)) {
  using namespace std::chrono;
  // The format cannot say a time before 1980 or after 2107.
  constexpr std::int64_t Start1980 = 315532800;
  constexpr std::int64_t End2107 = 4354819199;
  const sys_seconds when{seconds{std::clamp(utcSeconds, Start1980, End2107)}};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{when - day};
  dosDate_ = static_cast<std::uint16_t>(((static_cast<int>(date.year()) - 1980) << 9) |
                                        (static_cast<unsigned>(date.month()) << 5) |
                                        static_cast<unsigned>(date.day()));
  dosTime_ = static_cast<std::uint16_t>(
      (time.hours().count() << 11) | (time.minutes().count() << 5) | (time.seconds().count() / 2));
}

ZipArchive::~ZipArchive() = default;

std::string ZipArchive::Emit(std::string_view bytes) {
  if (!error_.empty()) return error_;
  if (bytes.empty()) return {};
  error_ = sink_(bytes);
  offset_ += bytes.size();
  return error_;
}

std::string ZipArchive::Begin(std::string_view name) {
  if (!error_.empty()) return error_;
  if (deflater_) return "an entry is still open";
  if (name.empty() || name.size() > 0xFFFF) return "no name, or a name too long for the format";
  if (entries_ >= 0xFFFF) return "the archive holds as many entries as the format allows";
  if (offset_ > Max32) return error_ = "the archive would pass 4 GiB";
  deflater_ = std::make_unique<Deflater>();
  if (!deflater_->ready) {
    deflater_.reset();
    return "the compressor could not start";
  }
  entryOffset_ = offset_;
  entryName_.assign(name);
  std::string header;
  Put32(header, 0x04034B50);
  Put16(header, VersionNeeded);
  Put16(header, Flags);
  Put16(header, Deflated);
  Put16(header, dosTime_);
  Put16(header, dosDate_);
  Put32(header, 0);  // CRC, compressed and uncompressed sizes: in the data descriptor
  Put32(header, 0);
  Put32(header, 0);
  Put16(header, static_cast<std::uint32_t>(name.size()));
  Put16(header, 0);  // extra field
  header += name;
  return Emit(header);
}

std::string ZipArchive::Write(std::string_view bytes) {
  if (!error_.empty()) return error_;
  if (!deflater_) return "no entry is open";
  Deflater& d = *deflater_;
  char out[OutChunk];
  // zlib counts in uInt: a long piece goes in parts.
  while (!bytes.empty()) {
    const std::size_t part = std::min<std::size_t>(bytes.size(), 1u << 30);
    d.crc = static_cast<std::uint32_t>(
        crc32(d.crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(part)));
    d.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    d.stream.avail_in = static_cast<uInt>(part);
    do {
      d.stream.next_out = reinterpret_cast<Bytef*>(out);
      d.stream.avail_out = sizeof out;
      deflate(&d.stream, Z_NO_FLUSH);
      const std::size_t made = sizeof out - d.stream.avail_out;
      d.out += made;
      if (std::string error = Emit({out, made}); !error.empty()) return error;
    } while (d.stream.avail_out == 0);
    d.in += part;
    bytes.remove_prefix(part);
  }
  return {};
}

std::string ZipArchive::End() {
  if (!error_.empty()) return error_;
  if (!deflater_) return "no entry is open";
  Deflater& d = *deflater_;
  char out[OutChunk];
  int result = Z_OK;
  do {
    d.stream.next_in = nullptr;
    d.stream.avail_in = 0;
    d.stream.next_out = reinterpret_cast<Bytef*>(out);
    d.stream.avail_out = sizeof out;
    result = deflate(&d.stream, Z_FINISH);
    const std::size_t made = sizeof out - d.stream.avail_out;
    d.out += made;
    if (std::string error = Emit({out, made}); !error.empty()) return error;
  } while (result == Z_OK);
  const std::uint32_t crc = d.crc;
  const std::uint64_t in = d.in;
  const std::uint64_t compressed = d.out;
  deflater_.reset();
  if (result != Z_STREAM_END) return error_ = "the compressor failed";
  if (in > Max32 || compressed > Max32 || entryOffset_ > Max32) {
    return error_ = "the archive would pass 4 GiB";
  }
  std::string descriptor;
  Put32(descriptor, 0x08074B50);
  Put32(descriptor, crc);
  Put32(descriptor, static_cast<std::uint32_t>(compressed));
  Put32(descriptor, static_cast<std::uint32_t>(in));
  if (std::string error = Emit(descriptor); !error.empty()) return error;

  Put32(directory_, 0x02014B50);
  Put16(directory_, VersionNeeded);  // made by: MS-DOS attributes, 2.0
  Put16(directory_, VersionNeeded);
  Put16(directory_, Flags);
  Put16(directory_, Deflated);
  Put16(directory_, dosTime_);
  Put16(directory_, dosDate_);
  Put32(directory_, crc);
  Put32(directory_, static_cast<std::uint32_t>(compressed));
  Put32(directory_, static_cast<std::uint32_t>(in));
  Put16(directory_, static_cast<std::uint32_t>(entryName_.size()));
  Put16(directory_, 0);  // extra field
  Put16(directory_, 0);  // comment
  Put16(directory_, 0);  // disk
  Put16(directory_, 0);  // internal attributes
  Put32(directory_, 0);  // external attributes
  Put32(directory_, static_cast<std::uint32_t>(entryOffset_));
  directory_ += entryName_;
  ++entries_;
  return {};
}

std::string ZipArchive::Add(std::string_view name, std::string_view contents) {
  if (std::string error = Begin(name); !error.empty()) return error;
  if (std::string error = Write(contents); !error.empty()) return error;
  return End();
}

std::string ZipArchive::Finish() {
  if (!error_.empty()) return error_;
  if (deflater_) return "an entry is still open";
  if (offset_ + directory_.size() + 22 > Max32) return error_ = "the archive would pass 4 GiB";
  const std::uint64_t directoryAt = offset_;
  std::string end = directory_;
  Put32(end, 0x06054B50);
  Put16(end, 0);  // this disk
  Put16(end, 0);  // the directory's disk
  Put16(end, static_cast<std::uint32_t>(entries_));
  Put16(end, static_cast<std::uint32_t>(entries_));
  Put32(end, static_cast<std::uint32_t>(directory_.size()));
  Put32(end, static_cast<std::uint32_t>(directoryAt));
  Put16(end, 0);  // comment
  return Emit(end);
}

}  // namespace cli
