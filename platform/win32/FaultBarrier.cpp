// See FaultBarrier.h. The guarded region is only Run's call of the thunk: a fault inside it
// resumes in Recover(), which jumps back into Run with the stack and registers Run had, skipping
// the library's frames and the thunk's (which own nothing that needs destroying).
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
  DWORD stackAtCall;  // Run's stack pointer just before the call
  DWORD code;         // the fault, once caught
  DWORD_PTR address;
};

// The frame whose recovery point Recover() jumps to. One guarded call at a time per process is
// all the program makes (the window's thread, or the command line's only thread).
GuardFrame* volatile Recovering = nullptr;

// Runs in place of the faulting instruction, on a fresh stretch of the stack below Run's frame.
[[noreturn]] __attribute__((noinline)) void Recover() {
  __builtin_longjmp(Recovering->recovery, 1);
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT* context, void*) {
  // Unwinding on someone else's behalf is not ours to stop.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<GuardFrame*>(establisher);
  frame->code = record->ExceptionCode;
  frame->address = reinterpret_cast<DWORD_PTR>(record->ExceptionAddress);
  Recovering = frame;
  // Below the frame Run was in when it made the call, away from the faulting stack, which may be
  // exhausted (a stack overflow) or not ours at all; 16-byte aligned with room for Recover.
  context->Esp = (frame->stackAtCall - 256) & ~static_cast<DWORD>(15);
  context->Eip = reinterpret_cast<DWORD>(&Recover);
  return ExceptionContinueExecution;
}

// The head of the calling thread's exception handler chain, at fs:[0] on 32-bit Windows.
void* HandlerChain() {
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}
void SetHandlerChain(void* head) { asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory"); }

}  // namespace

__attribute__((noinline)) std::optional<Fault> SehFaultBarrier::Run(void (*thunk)(void*),
                                                                    void* context) {
  volatile GuardFrame frame{};
  void* const volatile chainBefore = HandlerChain();
  if (__builtin_setjmp(const_cast<void**>(frame.recovery)) != 0) {
    // Back from a fault: the library's own registrations died with its frames.
    SetHandlerChain(chainBefore);
    Recovering = nullptr;
    return Fault{frame.code, frame.address};
  }
  frame.next = static_cast<GuardFrame*>(chainBefore);
  frame.handler = reinterpret_cast<void*>(&GuardHandler);
  DWORD stack;
  asm volatile("movl %%esp, %0" : "=r"(stack));
  frame.stackAtCall = stack;
  SetHandlerChain(const_cast<GuardFrame*>(&frame));
  thunk(context);
  SetHandlerChain(chainBefore);
  return std::nullopt;
}

}  // namespace platform::win32
