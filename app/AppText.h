// Texts of the application shell: the window caption and the binding failure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/VersionRecord.h"

namespace app {

// The fixed title the caption starts with.
inline constexpr std::string_view WindowTitle = "KV7700 Flashwright";

// The box shown when the update library cannot be bound (caption, then text).
inline constexpr std::string_view BindingFailureCaption = "Error";
inline constexpr std::string_view BindingFailureText = "Initalize the API entries fail";

// "<WindowTitle> v<major>.<minor>.<build>.<release>" from the file version's two words. Without a
// readable version record the caption is the title alone.
std::string FormatCaption(const std::optional<platform::FileVersion>& version);

}  // namespace app
