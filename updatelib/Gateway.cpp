// The guarded gateway to the update library; see Gateway.h.
#include "updatelib/Gateway.h"

#include <string>
#include <utility>

namespace updatelib {
namespace {

const char* FaultName(std::uint32_t code) {
  switch (code) {
    case 0xC0000005:
      return "access violation";
    case 0xC0000006:
      return "in-page error";
    case 0xC000001D:
      return "illegal instruction";
    case 0xC0000094:
      return "integer division by zero";
    case 0xC0000095:
      return "integer overflow";
    case 0xC0000096:
      return "privileged instruction";
    case 0xC00000FD:
      return "stack overflow";
    case 0xC0000025:
      return "non-continuable exception";
    case 0x80000001:
      return "guard page violation";
    case 0xE06D7363:
      // What a library compiled with Visual C++ raises for a C++ throw it does not catch.
      return "C++ exception (E06D7363)";
    case 0xC0000409:
      return "stack buffer overrun";
    case 0x80000003:
      return "breakpoint";
    default:
      return nullptr;
  }
}

}  // namespace

namespace {
// `value` as at least `digits` upper-case hex digits, as "%0*llX" would give it; written out by
// hand so that the window links no formatted printing.
std::string Hex(unsigned long long value, int digits) {
  std::string text;
  while (digits-- > 0 || value != 0) {
    text.insert(text.begin(), "0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  }
  return text;
}
}  // namespace

std::string FaultText(const char* entryPoint, const platform::Fault& fault) {
  const char* name = FaultName(fault.code);
  const std::string what = name ? std::string(name) : "exception " + Hex(fault.code, 8);
  return "The update library failed in " + std::string(entryPoint) + ": " + what + " at address " +
         Hex(fault.address, 8);
}

LibraryGateway::LibraryGateway(LibraryGateway&& other) noexcept
    : barrier_(other.barrier_),
      loader_(std::exchange(other.loader_, nullptr)),
      handle_(std::exchange(other.handle_, 0)),
      table_(std::exchange(other.table_, {})),
      bound_(std::exchange(other.bound_, false)) {}

LibraryGateway& LibraryGateway::operator=(LibraryGateway&& other) noexcept {
  if (this != &other) {
    Release();
    barrier_ = other.barrier_;
    loader_ = std::exchange(other.loader_, nullptr);
    handle_ = std::exchange(other.handle_, 0);
    table_ = std::exchange(other.table_, {});
    bound_ = std::exchange(other.bound_, false);
  }
  return *this;
}

platform::ModuleHandle LibraryGateway::Load(platform::ModuleLoader& loader) {
  Release();
  handle_ = LoadUpdateLibrary(loader, table_);
  bound_ = IsBound(handle_);
  if (bound_) loader_ = &loader;
  return handle_;
}

void LibraryGateway::Release() noexcept {
  // An all-ones handle never came from a successful load, so there is nothing to release.
  if (loader_ != nullptr && IsBound(handle_)) loader_->Release(handle_);
  loader_ = nullptr;
  handle_ = 0;
  table_ = {};
  bound_ = false;
}

void LibraryGateway::Run(const char* name, void (*thunk)(void*), void* frame) {
  if (!bound_) throw std::logic_error(std::string(name) + " called while no library is bound");
  if (busy_) {
    throw std::logic_error(std::string(name) + " called inside another update library call");
  }
  busy_ = true;
  struct ClearBusy {
    bool& busy;
    ~ClearBusy() { busy = false; }
  } clearBusy{busy_};
  if (const auto fault = barrier_->Run(thunk, frame)) throw LibraryFault(FaultText(name, *fault));
}

void ConfigureUpdateLibrary(LibraryGateway& library) {
  library.ZR_SetKV7300BindingCheck(1);
  library.ZR_SetZRKeepLast4KFileCopyNVRamchk(0);
  library.ZR_SetLoadEndUserFWFromResourceFlag(1);
  library.ZR_SetKV7300FWModuleForEndUserFWResource(3);
}

}  // namespace updatelib
