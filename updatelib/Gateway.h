// The one way into the update library: owns the binding and guards every call. The library is
// closed; it may run a message loop of its own inside a call (so our handlers run meanwhile),
// fault, or write past the buffers it is promised. The gateway keeps the program in charge: no
// call starts inside another, and a fault becomes an exception of ours naming the entry point.
#pragma once

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>

#include "platform/Platform.h"
#include "updatelib/Binding.h"

namespace updatelib {

// Every buffer the library writes into is this much larger than the size it is promised (which it
// cannot tell); only the promised part is ever read back.
inline constexpr std::size_t BufferSlack = 2048;

// The copy of a device path a call is given, with the slack: the library could write into the
// path it is handed, and the device's own path must stay as listed.
class WorkingPath {
 public:
  explicit WorkingPath(const DevicePath& path) {
    std::memcpy(text_, path.data(), path.size() - 1);  // the last byte stays NUL
  }
  char* Get() { return text_; }

 private:
  char text_[PathBufferSize + BufferSlack] = {};
};

// A structured exception inside a library call, e.g. "The update library failed in
// ZR_GetChipType: access violation at address 6B8C4BCC".
class LibraryFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text of a LibraryFault for a fault inside `entryPoint`.
std::string FaultText(const char* entryPoint, const platform::Fault& fault);

class LibraryGateway {
 public:
  // Unbound: every call is refused until Load() succeeds.
  explicit LibraryGateway(platform::FaultBarrier& barrier) : barrier_(&barrier) {}
  // Bound to entry points given directly (benchmarks, fuzzing); there is no module to release.
  LibraryGateway(const EntryPointTable& table, platform::FaultBarrier& barrier)
      : barrier_(&barrier), table_(table), bound_(true) {}
  ~LibraryGateway() { Release(); }
  LibraryGateway(LibraryGateway&& other) noexcept;
  LibraryGateway& operator=(LibraryGateway&& other) noexcept;
  LibraryGateway(const LibraryGateway&) = delete;
  LibraryGateway& operator=(const LibraryGateway&) = delete;

  // Binds the library as LoadUpdateLibrary does and returns its handle: bound, or 0, or the
  // all-ones handle passed through unbound. A bound module is released by Release() or the
  // destructor, exactly once.
  platform::ModuleHandle Load(platform::ModuleLoader& loader);
  void Release() noexcept;

  platform::ModuleHandle Handle() const { return handle_; }
  bool Bound() const { return bound_; }
  // True while a library call runs; the library may be handling window messages meanwhile.
  bool Busy() const { return busy_; }

  // The twelve calls, as the library defines them. Each throws LibraryFault when the library
  // faults, and std::logic_error when made while another call runs or nothing is bound: the
  // callers never let that happen.
#define FLASHWRIGHT_GATEWAY_CALL(name, ret, params)                \
  template <class... Args>                                         \
  ret name(Args... args) {                                         \
    return Call(#name, table_.name, std::tuple<Args...>(args...)); \
  }
  FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_GATEWAY_CALL)
#undef FLASHWRIGHT_GATEWAY_CALL

 private:
  template <class Fn, class Tuple>
  auto Call(const char* name, Fn fn, Tuple args) {
    using Result = decltype(std::apply(fn, args));
    // The guarded region is this thunk and the library below it: plain data only, as a fault
    // skips every destructor in between.
    struct Frame {
      Fn fn;
      Tuple args;
      Result result;
    } frame{fn, args, Result{}};
    Run(
        name,
        [](void* context) {
          Frame& call = *static_cast<Frame*>(context);
          call.result = std::apply(call.fn, call.args);
        },
        &frame);
    return frame.result;
  }
  void Run(const char* name, void (*thunk)(void*), void* frame);

  platform::FaultBarrier* barrier_;
  platform::ModuleLoader* loader_ = nullptr;  // set when a module is ours to release
  platform::ModuleHandle handle_ = 0;
  EntryPointTable table_{};
  bool bound_ = false;
  bool busy_ = false;
};

// The four setter calls, once, in order, right after binding; their results are not looked at.
void ConfigureUpdateLibrary(LibraryGateway& library);

}  // namespace updatelib
