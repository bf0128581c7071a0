// Owners for the resources the program takes from the system: each is released exactly once, by
// its owner, so teardown order follows from the order in which owners are declared.
#pragma once

#include <utility>

namespace platform {

// Owns one handle and releases it through `Release` when replaced or destroyed. `Empty` is the
// value that holds nothing (null for most handles); it is never released. A kind whose empty value
// is no constant expression (a pointer made from an integer) gives it as `Release::Empty()`.
template <class Handle, class Release, Handle Empty = Handle{}>
class UniqueResource {
  static Handle EmptyValue() {
    if constexpr (requires { Release::Empty(); }) {
      return Release::Empty();
    } else {
      return Empty;
    }
  }

 public:
  UniqueResource() = default;
  explicit UniqueResource(Handle handle, Release release = Release{})
      : handle_(handle), release_(std::move(release)) {}
  ~UniqueResource() { Reset(); }
  UniqueResource(UniqueResource&& other) noexcept
      : handle_(other.Detach()), release_(std::move(other.release_)) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset(other.Detach());
      release_ = std::move(other.release_);
    }
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != EmptyValue(); }
  // Gives the handle up without releasing it.
  Handle Detach() { return std::exchange(handle_, EmptyValue()); }
  // Releases what is held, then holds `handle`.
  void Reset() { Reset(EmptyValue()); }
  void Reset(Handle handle) {
    const Handle old = std::exchange(handle_, handle);
    if (old != EmptyValue()) release_(old);
  }

 private:
  Handle handle_ = EmptyValue();
  [[no_unique_address]] Release release_{};
};

// Runs `action` when the scope ends, however it ends.
template <class Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action action_;
};

}  // namespace platform
