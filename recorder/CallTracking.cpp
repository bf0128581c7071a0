// Call tracking: the recorded calls running now (nested when the library handles messages and
// the program calls again meanwhile), the message hooks and the fault handler that watch them,
// and each call's line once it ends or faults.
#include "recorder/CallTracking.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/win32/Owners.h"
#include "recorder/RecordingFile.h"

namespace recorder {
namespace {

// A call in progress. Calls nest when the library handles messages and the program calls again
// meanwhile; the innermost is last. A call the program's fault handling left is still here until
// the next call (or unloading) finds it faulted.
struct ActiveCall {
  RecordedCall record;
  LARGE_INTEGER start{};
  std::map<UINT, int> kinds;
  bool faultWritten = false;
};
std::vector<ActiveCall> activeCalls;
std::uint64_t nextSequence = 1;
DWORD callThread = 0;
using UniqueHook =
    platform::UniqueResource<HHOOK, platform::win32::CloseWith<&UnhookWindowsHookEx>>;
using UniqueFaultHandler =
    platform::UniqueResource<PVOID, platform::win32::CloseWith<&RemoveVectoredExceptionHandler>>;
// What watches the calls, there only while a call runs.
struct Watchers {
  UniqueHook postedHook;
  UniqueHook sentHook;
  UniqueFaultHandler faultHandler;
};
Watchers& Watching() {
  static Watchers watchers;
  return watchers;
}

std::int64_t MicrosSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return (now.QuadPart - start.QuadPart) * 1000000 / std::max<LONGLONG>(frequency.QuadPart, 1);
}

void CountMessage(UINT message) {
  for (ActiveCall& call : activeCalls) {
    ++call.record.messages;
    ++call.kinds[message];
  }
}

// Messages taken from the queue (posted ones, timers, input, paint) while a call runs.
LRESULT CALLBACK PostedMessageSeen(int code, WPARAM removal, LPARAM message) {
  if (code == HC_ACTION && removal == PM_REMOVE && message != 0) {
    CountMessage(reinterpret_cast<const MSG*>(message)->message);
  }
  return CallNextHookEx(nullptr, code, removal, message);
}

// Messages sent to a window of the calling thread, delivered while a call runs.
LRESULT CALLBACK SentMessageSeen(int code, WPARAM sender, LPARAM message) {
  if (code == HC_ACTION && message != 0) {
    CountMessage(reinterpret_cast<const CWPSTRUCT*>(message)->message);
  }
  return CallNextHookEx(nullptr, code, sender, message);
}

std::string MessageName(UINT message) {
  switch (message) {
    case WM_TIMER:
      return "WM_TIMER";
    case WM_PAINT:
      return "WM_PAINT";
    case WM_DEVICECHANGE:
      return "WM_DEVICECHANGE";
    case WM_COMMAND:
      return "WM_COMMAND";
    case WM_CLOSE:
      return "WM_CLOSE";
    case WM_SETTEXT:
      return "WM_SETTEXT";
    case WM_GETTEXT:
      return "WM_GETTEXT";
    case WM_GETTEXTLENGTH:
      return "WM_GETTEXTLENGTH";
    case WM_QUIT:
      return "WM_QUIT";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%04X", message);
      return text;
    }
  }
}

std::string Kinds(const std::map<UINT, int>& kinds) {
  std::string text;
  for (const auto& [message, count] : kinds) {
    if (!text.empty()) text += ',';
    text += MessageName(message);
    text += ':';
    text += std::to_string(count);
  }
  return text;
}

void Finish(ActiveCall& call) {
  call.record.micros = MicrosSince(call.start);
  call.record.messageKinds = Kinds(call.kinds);
}

// Sees an exception of the calling thread first, writes the faulting call at once (the program's
// own fault handling may then leave the call for good), and lets the search go on.
LONG CALLBACK FaultSeen(EXCEPTION_POINTERS* info) {
  if (activeCalls.empty() || GetCurrentThreadId() != callThread || info == nullptr ||
      info->ExceptionRecord == nullptr) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const EXCEPTION_RECORD& exception = *info->ExceptionRecord;
  // Warnings and errors only; informational exceptions (a debugger's thread names, debug
  // output) are no faults.
  if (exception.ExceptionCode < 0x80000000u) return EXCEPTION_CONTINUE_SEARCH;
  ActiveCall& call = activeCalls.back();
  if (call.faultWritten) return EXCEPTION_CONTINUE_SEARCH;
  call.faultWritten = true;
  try {
    call.record.fault = Fault{
        static_cast<std::uint32_t>(exception.ExceptionCode),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress))};
    Finish(call);
    RecordedCall faulting = call.record;
    faulting.result.reset();
    WriteLine(FormatCall(faulting));
  } catch (...) {
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void StopWatching() {
  Watchers& watchers = Watching();
  watchers.postedHook.Reset();
  watchers.sentHook.Reset();
  watchers.faultHandler.Reset();
}

std::size_t BeginCall(const char* name, std::vector<Field> in) {
  // Calls that faulted and never came back: the program took over. A call still running below
  // them (this one is nested in it) keeps its place.
  while (!activeCalls.empty() && activeCalls.back().faultWritten) activeCalls.pop_back();
  if (activeCalls.empty()) {
    StopWatching();
    callThread = GetCurrentThreadId();
    Watchers& watchers = Watching();
    watchers.postedHook.Reset(
        SetWindowsHookExW(WH_GETMESSAGE, PostedMessageSeen, nullptr, callThread));
    watchers.sentHook.Reset(
        SetWindowsHookExW(WH_CALLWNDPROC, SentMessageSeen, nullptr, callThread));
    watchers.faultHandler.Reset(AddVectoredExceptionHandler(1, FaultSeen));
  }
  ActiveCall call;
  call.record.sequence = nextSequence++;
  call.record.name = name;
  call.record.in = std::move(in);
  activeCalls.push_back(std::move(call));
  QueryPerformanceCounter(&activeCalls.back().start);
  return activeCalls.size() - 1;
}

void ForgetCall(std::size_t place) {
  if (place < activeCalls.size()) activeCalls.resize(place);
  if (activeCalls.empty()) StopWatching();
}

void EndCall(std::size_t place, int result, std::vector<Field> out) {
  if (place >= activeCalls.size()) return;  // dropped meanwhile, after a fault
  activeCalls.resize(place + 1);
  ActiveCall& call = activeCalls.back();
  Finish(call);
  call.record.result = result;
  call.record.out = std::move(out);
  WriteLine(FormatCall(call.record));
  ForgetCall(place);
}

}  // namespace recorder
