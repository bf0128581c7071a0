// Texts the application shell derives: title, caption and error box text.
#include "app/AppText.h"

#include <cstdio>

namespace app {

std::string ApplicationTitle(std::string_view executablePath) {
  const std::size_t slash = executablePath.find_last_of("\\/:");
  std::string_view name =
      slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  std::string title(name);
  for (std::size_t i = 1; i < title.size(); ++i) {
    const char c = title[i];
    if (c >= 'A' && c <= 'Z') title[i] = static_cast<char>(c - 'A' + 'a');
  }
  return title;
}

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

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

}  // namespace app
