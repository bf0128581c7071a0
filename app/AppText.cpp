// Texts of the application shell; see AppText.h.
#include "app/AppText.h"

#include <string>

namespace app {

std::string FormatCaption(const std::optional<platform::FileVersion>& version) {
  if (!version) return std::string(WindowTitle);
  return std::string(WindowTitle) + " v" + platform::VersionText(*version);
}

}  // namespace app
