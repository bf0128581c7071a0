// Files named on the command line; see NamedFiles.h.
#include "platform/win32/NamedFiles.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// The system's last error in a few plain words.
std::string Why(DWORD error = GetLastError()) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return "no such file or folder";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "in use by another program";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "the disk is full";
    default:
      return "Windows error " + std::to_string(error);
  }
}

// Every file in `folder`'s tree into `found`. A folder that is a link (a junction, a symbolic
// link) is not entered: it may point back up the tree or anywhere on the network.
std::string FindInFolder(const std::wstring& folder, std::vector<std::string>& found) {
  WIN32_FIND_DATAW entry{};
  const UniqueFind search(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                           FindExSearchNameMatch, nullptr, 0));
  if (!search) return Why();
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      found.push_back(WideToUtf8(path));
    } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // A subfolder that cannot be listed leaves the rest of the tree to be read.
      FindInFolder(path, found);
    }
  } while (FindNextFileW(search.Get(), &entry));
  const DWORD error = GetLastError();
  return error == ERROR_NO_MORE_FILES ? std::string() : Why(error);
}

}  // namespace

std::string NamedFiles::Find(const std::string& path, std::vector<std::string>& found) {
  std::wstring wide = Utf8ToWide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Why();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    found.push_back(path);
    return {};
  }
  while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  const std::size_t before = found.size();
  std::string error = FindInFolder(wide, found);
  std::sort(found.begin() + static_cast<std::ptrdiff_t>(before), found.end());
  return error;
}

std::string NamedFiles::ReadChunks(const std::string& file, Chunks& into) {
  const UniqueFile handle(CreateFileW(Utf8ToWide(file).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!handle) return Why();
  // One buffer for the whole file: a log being appended to meanwhile is read to where it ends.
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(handle.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return Why();
    }
    if (read == 0) return {};
    into.Take(std::string_view(buffer.data(), read));
  }
}

std::string NamedFiles::Write(const std::string& file, std::string_view contents) {
  const UniqueFile handle(CreateFileW(Utf8ToWide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return Why();
  DWORD written = 0;
  if (!WriteFile(handle.Get(), contents.data(), static_cast<DWORD>(contents.size()), &written,
                 nullptr) ||
      written != contents.size()) {
    return Why();
  }
  return {};
}

}  // namespace platform::win32
