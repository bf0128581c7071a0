// See FaultBarrier.h. The guarded region is only Run's call of the thunk. An exception that
// reaches the guard frame is unwound to it the way compiled code unwinds to an __except block (a
// global unwind, so that every handler registered below ours, the library's own, gets its unwind
// call), and execution then jumps back into Run with the stack and registers Run had. The thunk's
// frames own nothing that needs destroying.
#include "platform/win32/FaultBarrier.h"

#include <windows.h>

#include <cstdint>

namespace platform::win32 {
namespace {

// The layout the system expects of an entry of the thread's exception handler chain, followed by
// our own data; the system hands the entry's address back to the handler.
struct GuardFrame {
  GuardFrame* next;
  void* handler;
  void* recovery[5];  // __builtin_setjmp buffer
  DWORD code;         // the exception, once caught
  DWORD_PTR address;
};

}  // namespace

// RtlUnwind(target, resume point, record, 0), called as compiled code's global unwind calls it:
// RtlUnwind keeps none of the callee-saved registers, so all of them, the frame pointer
// included, are kept on the stack around it. Returns once every registration below `target` has
// been given its unwind call and removed from the chain.
extern "C" void __cdecl FlashwrightGlobalUnwind(void* target, EXCEPTION_RECORD* record);
asm(R"(
    .text
    .p2align 4
    .def _FlashwrightGlobalUnwind; .scl 2; .type 32; .endef
_FlashwrightGlobalUnwind:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp
    pushl $0
    pushl 12(%ebp)
    pushl $1f
    pushl 8(%ebp)
    call _RtlUnwind@16
1:
    popl %ebp
    popl %edi
    popl %esi
    popl %ebx
    movl %ebp, %esp
    popl %ebp
    ret
)");

namespace {

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT*, void*) {
  // Unwinding on someone else's behalf is not ours to stop.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<GuardFrame*>(establisher);
  frame->code = record->ExceptionCode;
  frame->address = reinterpret_cast<DWORD_PTR>(record->ExceptionAddress);
  // Never "continue execution": a non-continuable exception (a compiled library's C++ throw)
  // would only be raised again as STATUS_NONCONTINUABLE_EXCEPTION. The unwind runs here, on the
  // stack the system dispatched on, as it does for compiled code's __except after a stack
  // overflow too: the stack above is the library's, whose registrations are still to be read.
  FlashwrightGlobalUnwind(frame, record);
  __builtin_longjmp(frame->recovery, 1);
}

// The head of the calling thread's exception handler chain, at fs:[0] on 32-bit Windows.
void* HandlerChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void SetHandlerChain(void* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

// After a stack overflow the page that was the stack's guard is an ordinary committed page, and a
// second overflow would run into the uncommitted end of the stack and end the process. Puts the
// guard back on the lowest committed page of the current stack, as the C runtime's
// _resetstkoflw does, when that page lies well below the running code's. False when it cannot.
bool RestoreStackGuard() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const auto pageSize = static_cast<std::uintptr_t>(system.dwPageSize);
  const auto stackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  MEMORY_BASIC_INFORMATION here;
  if (VirtualQuery(reinterpret_cast<void*>(stackPointer), &here, sizeof here) == 0) return false;
  // The stack's allocation: reserved (or committed but inaccessible) pages at the bottom, then the
  // usable ones up to its top.
  auto* cursor = static_cast<char*>(here.AllocationBase);
  MEMORY_BASIC_INFORMATION region;
  for (;;) {
    if (VirtualQuery(cursor, &region, sizeof region) == 0) return false;
    if (region.AllocationBase != here.AllocationBase) return false;
    if (region.State == MEM_COMMIT && region.Protect != PAGE_NOACCESS) break;
    cursor = static_cast<char*>(region.BaseAddress) + region.RegionSize;
  }
  if (region.Protect & PAGE_GUARD) return true;
  const auto lowest = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
  // Never the page in use, nor the one just below it.
  if (lowest + 2 * pageSize > (stackPointer & ~(pageSize - 1))) return false;
  DWORD previous = 0;
  return VirtualProtect(region.BaseAddress, pageSize, PAGE_READWRITE | PAGE_GUARD, &previous) != 0;
}

}  // namespace

__attribute__((noinline)) std::optional<Fault> SehFaultBarrier::Run(void (*thunk)(void*),
                                                                    void* context) {
  volatile GuardFrame frame{};
  void* const volatile chainBefore = HandlerChain();
  if (__builtin_setjmp(const_cast<void**>(frame.recovery)) != 0) {
    // Back from an exception: the unwind left our frame at the head of the chain.
    SetHandlerChain(chainBefore);
    if (frame.code == static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW)) RestoreStackGuard();
    return Fault{frame.code, frame.address};
  }
  frame.next = static_cast<GuardFrame*>(chainBefore);
  frame.handler = reinterpret_cast<void*>(&GuardHandler);
  SetHandlerChain(const_cast<GuardFrame*>(&frame));
  thunk(context);
  SetHandlerChain(chainBefore);
  return std::nullopt;
}

}  // namespace platform::win32
