// The full path of a module loaded in this process (the program itself, or a DLL of its own), the
// one place that asks Windows for it. Header-only, so that a DLL of ours can use it too.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform::win32 {

// `module`'s full path; the running program's when `module` is null. Empty when it cannot be had.
// The path may be longer than MAX_PATH; the buffer grows up to the longest path Windows knows.
inline std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

// The running program's full path; empty when it cannot be had.
inline std::wstring ExecutablePath() { return ModulePath(nullptr); }

}  // namespace platform::win32
