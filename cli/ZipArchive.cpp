// The ZIP writer; see ZipArchive.h. Layouts as the format's application note gives them.
#include "cli/ZipArchive.h"

#include <array>
#include <limits>

namespace cli {
namespace {

constexpr std::uint16_t VersionNeeded = 20;     // 2.0: plain stored entries in folders
constexpr std::uint16_t Utf8NamesFlag = 0x800;  // general purpose bit 11

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Days since 1970 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  month = shifted < 10 ? shifted + 3 : shifted - 9;
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? 0xEDB88320u : 0);
      entries[i] = value;
    }
    return entries;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

ZipArchive::ZipArchive(std::int64_t utcSeconds) {
  // The format cannot say a time before 1980.
  constexpr std::int64_t Start1980 = 315532800;
  if (utcSeconds < Start1980) utcSeconds = Start1980;
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(utcSeconds / 86400, year, month, day);
  const auto second = static_cast<unsigned>(utcSeconds % 86400);
  if (year > 2107) year = 2107;
  dosDate_ = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  dosTime_ = static_cast<std::uint16_t>(((second / 3600) << 11) | (((second / 60) % 60) << 5) |
                                        ((second % 60) / 2));
}

bool ZipArchive::Add(std::string_view name, std::string_view contents) {
  constexpr std::uint64_t Max32 = std::numeric_limits<std::uint32_t>::max();
  if (name.empty() || name.size() > 0xFFFF || entries_ >= 0xFFFF) return false;
  const std::uint64_t grown = body_.size() + 30 + name.size() + contents.size();
  if (grown + directory_.size() + 46 + name.size() + 22 > Max32) return false;

  const std::uint32_t crc = Crc32(contents);
  const auto offset = static_cast<std::uint32_t>(body_.size());
  const auto size = static_cast<std::uint32_t>(contents.size());
  // The fields a local header and a central record share, from "version needed" on.
  std::string shared;
  Put16(shared, VersionNeeded);
  Put16(shared, Utf8NamesFlag);
  Put16(shared, 0);  // stored
  Put16(shared, dosTime_);
  Put16(shared, dosDate_);
  Put32(shared, crc);
  Put32(shared, size);  // compressed
  Put32(shared, size);  // uncompressed
  Put16(shared, static_cast<std::uint32_t>(name.size()));
  Put16(shared, 0);  // extra field

  Put32(body_, 0x04034B50);
  body_ += shared;
  body_ += name;
  body_ += contents;

  Put32(directory_, 0x02014B50);
  Put16(directory_, VersionNeeded);  // made by: MS-DOS attributes, 2.0
  directory_ += shared;
  Put16(directory_, 0);  // comment
  Put16(directory_, 0);  // disk
  Put16(directory_, 0);  // internal attributes
  Put32(directory_, 0);  // external attributes
  Put32(directory_, offset);
  directory_ += name;
  ++entries_;
  return true;
}

std::string ZipArchive::Finish() const {
  std::string archive = body_ + directory_;
  Put32(archive, 0x06054B50);
  Put16(archive, 0);  // this disk
  Put16(archive, 0);  // the directory's disk
  Put16(archive, static_cast<std::uint32_t>(entries_));
  Put16(archive, static_cast<std::uint32_t>(entries_));
  Put32(archive, static_cast<std::uint32_t>(directory_.size()));
  Put32(archive, static_cast<std::uint32_t>(body_.size()));
  Put16(archive, 0);  // comment
  return archive;
}

}  // namespace cli
