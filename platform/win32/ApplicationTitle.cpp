// The application title from the executable's name. The name is taken and cut in UTF-16: in a
// double-byte ANSI code page the second byte of a character can be "\", so the ANSI path cannot
// be split bytewise.
#include "platform/win32/ApplicationTitle.h"

#include <windows.h>

#include <string_view>
#include <vector>

#include "platform/FileName.h"

namespace platform::win32 {
namespace {

std::wstring ModuleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

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
  const std::wstring path = ModuleFileName();
  const std::wstring_view stem = platform::FileNameStem(std::wstring_view(path));
  if (stem.empty()) return {};
  // The first character is one UTF-16 unit, or two for a surrogate pair; it keeps its case.
  const std::size_t first = IS_HIGH_SURROGATE(stem.front()) && stem.size() > 1 ? 2 : 1;
  std::string rest = ToAnsi(stem.substr(first));
  if (!rest.empty()) CharLowerBuffA(rest.data(), static_cast<DWORD>(rest.size()));
  return ToAnsi(stem.substr(0, first)) + rest;
}

}  // namespace platform::win32
