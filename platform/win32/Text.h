// Text conversions at the program's edges: the library's code page text, the command line, file
// names and the console. Needs no Windows header of its callers.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

// `bytes` in code page `codePage` (CP_ACP is 0, one of the system's ANSI code pages) as UTF-8.
// Each byte or sequence the code page does not define, including a lead byte cut off at the end,
// becomes U+FFFD; the result is always valid UTF-8. The system's tables pass the holes of the
// ANSI code pages (0x81 in 1252) through as C1 controls, which none of them defines as a
// character: those become U+FFFD too. Control bytes below 0x20 are kept.
std::string CodePageToUtf8(unsigned codePage, std::string_view bytes);

// UTF-8 to UTF-16 and back; ill-formed input becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace platform::win32
