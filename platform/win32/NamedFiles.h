// Files named on the command line, through the wide functions so that any name works; see
// platform::Files in Console.h.
#pragma once

#include "platform/Console.h"

namespace platform::win32 {

class NamedFiles final : public Files {
 public:
  std::string Find(const std::string& path, std::vector<std::string>& found) override;
  std::string ReadChunks(const std::string& file, Chunks& into) override;
  std::string Write(const std::string& file, std::string_view contents) override;
};

}  // namespace platform::win32
