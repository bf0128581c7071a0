// Taking a program's file name apart, for its application title.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// The file name in `path` without its directory (up to the last "\\", "/" or drive ":"), cut at
// its first dot: the application title before its letters are lower-cased. Meant for UTF-16
// paths, where no separator can be part of another character (in a double-byte code page the
// second byte of a character can be "\\").
template <typename Char>
std::basic_string_view<Char> FileNameStem(std::basic_string_view<Char> path) {
  constexpr Char separators[] = {Char('\\'), Char('/'), Char(':'), Char()};
  const std::size_t slash = path.find_last_of(separators);
  const auto name = slash == std::basic_string_view<Char>::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.find(Char('.')));
}

}  // namespace platform
