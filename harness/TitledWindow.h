// Top-level windows that a test puts up itself, e.g. for a program that closes windows by title:
// each lives on a thread of its own and records the close requests it gets.
#pragma once

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "harness/Driver.h"

namespace e2e {

class TitledWindow {
 public:
  enum class OnClose {
    Close,  // the default handling: the window is destroyed
    Stay,   // the request is only recorded, so every later one is seen too
  };

  // Creates a visible, never activated top-level window titled `title` and waits until it is
  // there. With `hangFor` above zero its thread then stops taking messages for that long (or
  // until this object goes), as a hung program's does. Throws std::runtime_error when the
  // window cannot be created.
  explicit TitledWindow(std::string title, OnClose onClose = OnClose::Close,
                        Millis hangFor = Millis::zero());
  TitledWindow(const TitledWindow&) = delete;
  TitledWindow& operator=(const TitledWindow&) = delete;
  // Destroys the window (if still there) and ends its thread.
  ~TitledWindow();

  HWND Handle() const { return window_; }
  // False once the window has been destroyed, e.g. by a close request.
  bool Exists() const { return IsWindow(window_) != FALSE; }
  // When each WM_CLOSE arrived, in order.
  std::vector<std::chrono::steady_clock::time_point> CloseRequests() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Run(HANDLE ready);

  std::string title_;
  OnClose onClose_;
  Millis hangFor_;
  HANDLE stop_ = nullptr;
  HWND window_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::chrono::steady_clock::time_point> closeRequests_;
  std::thread thread_;
};

}  // namespace e2e
