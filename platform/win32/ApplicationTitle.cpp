// The application title from the executable's name. The name is taken and cut in UTF-16: in a
// double-byte ANSI code page the second byte of a character can be "\", so the ANSI path cannot
// be split bytewise.
#include "platform/win32/ApplicationTitle.h"

#include <windows.h>

#include <string_view>
#include <vector>

#include "platform/FileName.h"
#include "platform/win32/ModulePath.h"

namespace platform::win32 {
namespace {

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int wideLength = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string ansi(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

}  // namespace

std::string ApplicationTitle() {
  const std::wstring path = ExecutablePath();
  const std::wstring_view stem = platform::FileNameStem(std::wstring_view(path));
  if (stem.empty()) return {};
  // The first character is one UTF-16 unit, or two for a surrogate pair; it keeps its case.
  const std::size_t first = IS_HIGH_SURROGATE(stem.front()) && stem.size() > 1 ? 2 : 1;
  std::string rest = ToAnsi(stem.substr(first));
  if (!rest.empty()) CharLowerBuffA(rest.data(), static_cast<DWORD>(rest.size()));
  return ToAnsi(stem.substr(0, first)) + rest;
}

}  // namespace platform::win32
