// What the trust, console and installer tests share: the system's words for an error, so that a
// failure on someone's PC explains itself, and a file's bytes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/win32/DataFolder.h"
#include "platform/win32/Text.h"

namespace kit {

// "error N (0xN): the system's message" for a Windows error or HRESULT.
inline std::string ErrorText(DWORD code) {
  std::ostringstream out;
  out << "error " << code << " (0x" << std::hex << code << ")";
  const std::string text = platform::win32::SystemErrorText(code);
  if (!text.empty()) out << ": " << text;
  return out.str();
}

// The last error of the calling thread, as ErrorText gives it, after `what`.
inline std::string LastError(const std::string& what) {
  const DWORD code = GetLastError();
  return what + " failed: " + ErrorText(code);
}

inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kit
