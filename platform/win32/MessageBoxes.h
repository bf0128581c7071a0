// The program's own windows and the message boxes it shows, counted among them while they are up;
// the closer of another window by its title, which spares them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace platform::win32 {

// The program's own top-level windows (application window, main window, its message boxes while
// they are up), which a lookup by title spares. Used on the window thread only.
class OwnWindows {
 public:
  void Add(HWND window) { windows_.push_back(window); }
  void Remove(HWND window);
  bool Contains(HWND window) const;

 private:
  std::vector<HWND> windows_;
};

// Shows message boxes and counts each as one of the program's own windows while it is up: the
// box is told from windows other code creates meanwhile (the library's, say, while messages are
// handled behind the box) by being the first top-level window the thread creates in the call.
class MessageBoxes final : public Dialogs {
 public:
  MessageBoxes(std::string applicationTitle, OwnWindows& ownWindows)
      : title_(std::move(applicationTitle)), ownWindows_(ownWindows) {}
  // The application window, which owns the error box once it exists.
  void SetOwner(HWND owner) { owner_ = owner; }
  void ShowPlain(std::string_view text, std::string_view caption) override;
  void ShowError(std::string_view text) override;

 private:
  int ShowOwnBox(HWND owner, const char* text, const char* caption, UINT style);

  std::string title_;
  OwnWindows& ownWindows_;
  HWND owner_ = nullptr;
};

// Looks the title up among every top-level window, the program's own process included (a
// library may show its notes there), sparing only the program's own windows.
class TitledWindowCloser final : public WindowCloser {
 public:
  // Ask for a close and wait at most this long for it to be handled.
  static constexpr UINT WaitMilliseconds = 1000;
  explicit TitledWindowCloser(const OwnWindows& ownWindows) : ownWindows_(ownWindows) {}
  void CloseWindowTitled(const char* title) override;

 private:
  const OwnWindows& ownWindows_;
};

}  // namespace platform::win32
