// Texts the application shell derives: its title, the window caption and the error box's text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace app {

// The fixed title the caption starts with.
inline constexpr std::string_view WindowTitle = "KV7700 Flashwright";

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

// The file version from a version record as stored in the program's resources: the fixed part
// follows the record's header, marked by its signature 0xFEEF04BD. Nothing when the bytes hold
// no complete fixed part.
std::optional<platform::FileVersion> FixedFileVersion(const unsigned char* record,
                                                      std::size_t size);

// "<WindowTitle> v<major>.<minor>.<build>.<release>" from the file version's two words. Without a
// readable version record the caption is the title alone.
std::string FormatCaption(const std::optional<platform::FileVersion>& version);

// The error box shows an exception's message with a "." appended when the message is not empty
// and its last character is a byte above "." (a letter, digit, "?", ":" and the like).
std::string ErrorBoxText(std::string_view message);

}  // namespace app
