// Reading a line of the trail back (what Writer.h writes, of this version or an older one) into a
// typed Line, without trusting it: a line anyone could have written to a share is bounded in
// length and nesting, its time must be a real UTC time in the writer's one form, and a word this
// version does not know reads as none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "trail/Line.h"

namespace trail {

// A line longer than this is no line of ours (the writer's longest is a few hundred bytes): it is
// skipped unparsed.
inline constexpr std::size_t LongestLine = std::size_t{16} * 1024;
// Our lines nest two deep (the previous attempt); a deeper one is skipped unparsed.
inline constexpr int DeepestNesting = 4;

enum class Reading : std::uint8_t {
  Read,
  TooLong,     // over LongestLine bytes
  Unreadable,  // not a JSON object of at most DeepestNesting levels in UTF-8
  BadTime,     // no time, or not one in the form YYYY-MM-DDTHH:MM:SSZ of a real date
};

// Reads `text` into `line` (a fresh Line). A value of another type than the writer's, null, or
// "" (older versions' null) reads as empty; keys this version does not know are ignored.
Reading ReadLine(std::string_view text, Line& line);

// Seconds since 1970-01-01 UTC of a time written as YYYY-MM-DDTHH:MM:SSZ (nothing more, nothing
// less, years 1970 to 9999); nullopt for anything else, or a date that does not exist.
std::optional<std::int64_t> TimeNamed(std::string_view text);

}  // namespace trail
