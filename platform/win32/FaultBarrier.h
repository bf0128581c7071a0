// Catching faults inside the update library on 32-bit Windows, without compiler support for
// structured exception handling.
#pragma once

#include "platform/Platform.h"

namespace platform::win32 {

// Installs an exception registration of its own on the thread's handler chain (fs:[0]) for the
// length of each call, so handlers the library installs inside it go first and only a fault that
// would otherwise end the process reaches ours. Every such exception is caught, a non-continuable
// one (a compiled library's C++ throw) too: the handlers below ours get their unwind call, the
// fault is recorded and execution resumes at a recovery point taken before the call, with the
// handler chain as it was then. After a stack overflow the stack's guard page is put back, so the
// next one is caught as well. For the window's thread (or any single thread): calls must not
// overlap.
class SehFaultBarrier final : public FaultBarrier {
 public:
  std::optional<Fault> Run(void (*thunk)(void*), void* context) override;
};

}  // namespace platform::win32
