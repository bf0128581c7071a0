// Text conversions with the system's own tables; see Text.h.
#include "platform/win32/Text.h"

#include <windows.h>

#include <utility>

namespace platform::win32 {
namespace {

constexpr wchar_t Replacement = 0xFFFD;

// Appends the whole of `bytes` converted strictly; false (and nothing appended) when the code
// page refuses any of it. Code pages that know no strict mode convert as they can.
bool ConvertStrictly(UINT codePage, std::string_view bytes, std::wstring& wide) {
  const int size = static_cast<int>(bytes.size());
  DWORD flags = MB_ERR_INVALID_CHARS;
  int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (length <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  }
  if (length <= 0) return false;
  const std::size_t at = wide.size();
  wide.resize(at + static_cast<std::size_t>(length));
  if (MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data() + at, length) !=
      length) {
    wide.resize(at);
    return false;
  }
  return true;
}

// The holes of an ANSI code page, as the system's tables give them.
std::string WithoutC1Controls(std::wstring wide) {
  for (wchar_t& character : wide) {
    if (character >= 0x80 && character <= 0x9F) character = Replacement;
  }
  return WideToUtf8(wide);
}

}  // namespace

std::string CodePageToUtf8(unsigned codePage, std::string_view bytes) {
  std::wstring wide;
  if (bytes.empty() || ConvertStrictly(codePage, bytes, wide)) return WithoutC1Controls(wide);
  wide.clear();
  // Character by character: what the code page defines is kept, each byte it does not is
  // replaced, and the next character starts right after that byte.
  for (std::size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<BYTE>(bytes[at]);
    const std::size_t length = IsDBCSLeadByteEx(codePage, byte) ? 2 : 1;
    if (at + length <= bytes.size() && ConvertStrictly(codePage, bytes.substr(at, length), wide)) {
      at += length;
    } else {
      wide += Replacement;
      ++at;
    }
  }
  return WithoutC1Controls(std::move(wide));
}

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

}  // namespace platform::win32
