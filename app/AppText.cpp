// Texts the application shell derives: title, caption and error box text.
#include "app/AppText.h"

#include <cstdint>
#include <cstdio>

namespace app {

std::optional<platform::FileVersion> FixedFileVersion(const unsigned char* record,
                                                      std::size_t size) {
  constexpr std::uint32_t Signature = 0xFEEF04BD;
  constexpr std::size_t FixedPartSize = 52;
  auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(record[at]) |
           static_cast<std::uint32_t>(record[at + 1]) << 8 |
           static_cast<std::uint32_t>(record[at + 2]) << 16 |
           static_cast<std::uint32_t>(record[at + 3]) << 24;
  };
  if (record == nullptr) return std::nullopt;
  // The fixed part is 32-bit aligned and starts after the header and its key "VS_VERSION_INFO".
  for (std::size_t at = 0; at + FixedPartSize <= size; at += 4) {
    if (word(at) == Signature) return platform::FileVersion{word(at + 8), word(at + 12)};
  }
  return std::nullopt;
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
