// A file name as the tools read it from the environment (a recording's, a scenario's, a log's):
// a Unix path ("/tmp/x.fwrec"), as a test under Wine gives it, is taken on Wine's Z: drive
// ("Z:\tmp\x.fwrec"); anything else is kept. Portable.
#pragma once

#include <string>

namespace recorder {

template <typename Char>
std::basic_string<Char> PathFromEnvironment(std::basic_string<Char> path) {
  if (path.empty() || path.front() != Char('/')) return path;
  std::basic_string<Char> onDrive{Char('Z'), Char(':')};
  onDrive.reserve(2 + path.size());
  for (const Char c : path) onDrive += c == Char('/') ? Char('\\') : c;
  return onDrive;
}

}  // namespace recorder
