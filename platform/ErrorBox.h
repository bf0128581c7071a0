// The application's standard presentation of an exception: the error box and its text.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Platform.h"

namespace platform {

// The error box shows an exception's message with a "." appended when the message is not empty
// and its last character is a byte above "." (a letter, digit, "?", ":" and the like).
inline std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

// Runs a handler so that an exception escaping it is shown in the error box instead of ending the
// program. Returns false when the handler threw; the box has then been shown and dismissed.
template <class Handler>
bool RunGuarded(Dialogs& dialogs, Handler&& handler) noexcept {
  try {
    std::forward<Handler>(handler)();
    return true;
  } catch (const std::exception& error) {
    try {
      dialogs.ShowError(ErrorBoxText(error.what()));
    } catch (...) {
    }
  } catch (...) {
    // A thrown value that is no exception object shows as one with an empty message.
    try {
      dialogs.ShowError(ErrorBoxText(""));
    } catch (...) {
    }
  }
  return false;
}

}  // namespace platform
