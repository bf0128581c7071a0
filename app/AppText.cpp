// Texts of the application shell; see AppText.h.
#include "app/AppText.h"

#include <cstdio>

namespace app {

std::string FormatCaption(const std::optional<platform::FileVersion>& version) {
  if (!version) return std::string(WindowTitle);
  char text[96];
  std::snprintf(text, sizeof text, "%.*s v%d.%d.%d.%d", static_cast<int>(WindowTitle.size()),
                WindowTitle.data(), static_cast<int>(version->mostSignificant >> 16),
                static_cast<int>(version->mostSignificant & 0xFFFF),
                static_cast<int>(version->leastSignificant >> 16),
                static_cast<int>(version->leastSignificant & 0xFFFF));
  return text;
}

}  // namespace app
