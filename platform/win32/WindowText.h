// Window text held without allocating: what the main window sets and the panels compare and
// paint.
#pragma once

#include <windows.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace platform::win32 {

// A NUL-terminated text, held in the object itself up to InlineSize - 1 characters and on the heap
// only beyond that. Every text the program shows is far shorter, so setting, comparing and painting
// texts allocates nothing; a longer one (sent from outside, say) is still held whole.
class TextBuffer {
 public:
  static constexpr std::size_t InlineSize = 128;

  explicit TextBuffer(std::string_view text) {
    char* data = Reserve(text.size());
    std::memcpy(data, text.data(), text.size());
    Finish(text.size());
  }
  // The window's text.
  explicit TextBuffer(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return;
    char* data = Reserve(static_cast<std::size_t>(length));
    const int copied = GetWindowTextA(window, data, length + 1);
    Finish(static_cast<std::size_t>(copied > 0 ? copied : 0));
  }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* CStr() const { return data_; }
  std::string_view View() const { return {data_, size_}; }

 private:
  char* Reserve(std::size_t length) {
    if (length >= InlineSize) {
      heap_ = std::make_unique<char[]>(length + 1);
      data_ = heap_.get();
    }
    return data_;
  }
  void Finish(std::size_t length) {
    size_ = length;
    data_[length] = '\0';
  }

  char inline_[InlineSize] = {};
  std::unique_ptr<char[]> heap_;
  char* data_ = inline_;
  std::size_t size_ = 0;
};

// The window procedure of every window class of ours. The window's object comes with its

}  // namespace platform::win32
