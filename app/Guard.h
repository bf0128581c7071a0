// Runs a handler so that an exception escaping it is shown in the application's error box
// instead of ending the program.
#pragma once

#include <exception>
#include <utility>

#include "app/AppText.h"
#include "platform/Platform.h"

namespace app {

// Returns false when the handler threw; the error box has then been shown and dismissed.
template <class Handler>
bool RunGuarded(platform::Dialogs& dialogs, Handler&& handler) noexcept {
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

}  // namespace app
