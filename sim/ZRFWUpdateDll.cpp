// The simulator DLL: exports every update-library entry point (__stdcall, undecorated through the
// .def the build writes from FLASHWRIGHT_ENTRY_POINTS), forwards the twelve the program calls to
// SimLibrary (or, with FLASHWRIGHT_SIM_REPLAY, to the Replayer of that recording), and keeps the
// call log. The exports are generated from the entry-point list.
#include <windows.h>

#include <string>
#include <type_traits>

#include "platform/win32/Owners.h"
#include "sim/Replay.h"
#include "sim/SimLibrary.h"
#include "sim/SimulatedLibrary.h"
#include "updatelib/EntryPoints.h"

namespace {

// Read once at load; plain storage so that DllMain's detach can still log at process exit.
char logFile[MAX_PATH + 8];

void AppendLogLine(const std::string& line) {
  if (logFile[0] == '\0') return;
  // Opened per line, so every line is on disk at once and readers may truncate the file.
  const platform::win32::UniqueFile file(
      CreateFileA(logFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void WriteStderr(const std::string& message) {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  const std::string text = message + "\n";
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Environment(const char* name) {
  char value[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return {};
  return sim::PathFromEnvironment(std::string(value, length));
}

// A message loop of the library's own, as one with a modal wait would run: input, posted and
// sent messages and timers all reach the program's windows (without its dialog handling) until
// ms have passed, or until `done` says so. A WM_QUIT is put back and ends the loop early, so the
// program's loop sees it.
void PumpMessagesUntil(int ms, bool (*done)()) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  for (;;) {
    if (done != nullptr && done()) return;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
      if (GetTickCount64() >= deadline || (done != nullptr && done())) return;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    const HANDLE noHandles[1] = {nullptr};  // the count is 0: only the queue is waited on
    MsgWaitForMultipleObjectsEx(0, noHandles, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void PumpMessages(int ms) { PumpMessagesUntil(ms, nullptr); }

// A write to a reserved, never committed page: a genuine access violation. The target is read
// through a volatile variable, so the compiler can neither drop the write nor make it a trap.
void CrashWithAccessViolation() {
  static void* const reserved = VirtualAlloc(nullptr, 1, MEM_RESERVE, PAGE_NOACCESS);
  volatile int* volatile target = static_cast<volatile int*>(reserved);
  *target = 0x0BAD;
}

// The library's own note: a modeless dialog (class #32770, as a message box's) titled "Message",
// shown without taking the activation and left open when the call returns. It lives on the
// calling thread and gets its messages from the program's loop; a close request is logged and
// honoured.
HWND note = nullptr;
HMODULE self = nullptr;

INT_PTR CALLBACK NoteProc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return FALSE;  // no focus taken
    case WM_CLOSE:
      AppendLogLine("message-window WM_CLOSE");
      DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      if (window == note) note = nullptr;
      return TRUE;
    default:
      return FALSE;
  }
}

bool ShowNote() {
  if (note != nullptr && IsWindow(note)) return false;
  constexpr DWORD Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  // DLGTEMPLATE, no controls, then no menu, the default class and the title.
  alignas(4) static const WORD Template[] = {
      LOWORD(Style), HIWORD(Style), 0,   0,   0,   10,  10,  160, 40, 0, 0,
      'M',           'e',           's', 's', 'a', 'g', 'e', 0};
  static_assert(sizeof sim::NoteTitle == 8, "the template spells the note's title");
  note = CreateDialogIndirectParamA(self, reinterpret_cast<LPCDLGTEMPLATEA>(Template), nullptr,
                                    NoteProc, 0);
  if (note != nullptr) ShowWindow(note, SW_SHOWNOACTIVATE);
  return true;
}

// The note's modal wait: the loop ends once the note is gone. True when it was closed.
bool WaitForNote(int ms) {
  PumpMessagesUntil(ms, [] { return note == nullptr || !IsWindow(note); });
  return note == nullptr || !IsWindow(note);
}

// A replayed fault: an access violation as the crash key raises it, any other code as itself. A
// C++ exception comes as Visual C++'s throw raises it: non-continuable, with the magic number of
// its exception record (no object and no type information: nobody is to catch it).
void RaiseFault(std::uint32_t code) {
  if (code == 0xC0000005u) CrashWithAccessViolation();
  if (code == sim::CppExceptionCode) {
    const ULONG_PTR arguments[3] = {0x19930520, 0, 0};
    RaiseException(code, EXCEPTION_NONCONTINUABLE, 3, arguments);
  }
  RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// Unbounded recursion, each level holding a page of stack the compiler cannot fold away, until
// the stack's guard runs out: a genuine stack overflow.
__attribute__((noinline)) unsigned Recurse(unsigned depth) {
  if (depth == ~0u) return 0;  // never reached: the stack is gone long before
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  page[sizeof page - 1] = page[0];
  return Recurse(depth + 1) + page[sizeof page - 1];
}

void OverflowStack() { Recurse(0); }

sim::SimHost Host() {
  return sim::SimHost{
      Environment("FLASHWRIGHT_SIM_SCENARIO"),
      AppendLogLine,
      WriteStderr,
      [](int ms) { Sleep(static_cast<DWORD>(ms)); },
      PumpMessages,
      CrashWithAccessViolation,
      ShowNote,
      RaiseFault,
      WaitForNote,
      OverflowStack,
  };
}

// Created at the first call, never destroyed: the process may still call in while exiting.
sim::SimLibrary& Library() {
  static sim::SimLibrary* library = new sim::SimLibrary(Host());
  return *library;
}

// The replay of FLASHWRIGHT_SIM_REPLAY, made at the first call; nullptr without one. A recording
// that cannot be read is reported and replayed as empty: every call diverges.
sim::Replayer* replaying = nullptr;
bool replayChecked = false;
sim::Replayer* Replay() {
  if (replayChecked) return replaying;
  replayChecked = true;
  const std::string file = Environment("FLASHWRIGHT_SIM_REPLAY");
  if (file.empty()) return nullptr;
  recorder::ParsedRecording parsed = recorder::LoadRecording(file);
  if (!parsed.recording) {
    AppendLogLine("error " + parsed.error);
    WriteStderr("ZRFWUpdateDll simulator: " + parsed.error + " (every call diverges)");
  }
  replaying = new sim::Replayer(Host(), parsed.recording.value_or(recorder::Recording{}));
  return replaying;
}

// Answers a call from the replay when there is one, else from the scenario.
template <typename Call>
int Answer(Call call) {
  if (sim::Replayer* replay = Replay()) return call(*replay);
  return call(Library());
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    self = instance;
    const std::string logName = Environment("FLASHWRIGHT_SIM_LOG");
    if (logName.size() < sizeof logFile) lstrcpynA(logFile, logName.c_str(), sizeof logFile);
    AppendLogLine("load");
  } else if (reason == DLL_PROCESS_DETACH) {
    // Released by the program while the note is up: the note's procedure is about to go.
    if (reserved == nullptr && note != nullptr &&
        GetWindowThreadProcessId(note, nullptr) == GetCurrentThreadId()) {
      DestroyWindow(note);
    }
    if (replaying) AppendLogLine(replaying->EndLine());
    AppendLogLine(reserved == nullptr ? "unload freelibrary" : "unload process-exit");
  }
  return TRUE;
}

// The twelve called entry points, each answered by the member Answering names for it, with the
// types the program calls them through.
#define SIM_EXPORT(name, ret, params)                                  \
  extern "C" ret ZR_API name(FLASHWRIGHT_PARAMETERS(ret, params)) {    \
    return Answer([&](sim::SimulatedLibrary& library) {                \
      return sim::Answering<updatelib::LookupIndexOf(#name)>{library}( \
          FLASHWRIGHT_ARGUMENTS(params));                              \
    });                                                                \
  }                                                                    \
  static_assert(std::is_same_v<decltype(&name), updatelib::name##_Fn>, \
                #name " does not match the program's signature");
FLASHWRIGHT_CALLED_ENTRY_POINTS(SIM_EXPORT)
#undef SIM_EXPORT

// Entry points the program binds but never calls: one stub each, with the parameter list
// FLASHWRIGHT_ENTRY_POINTS gives it (which fixes its __stdcall stack size). They only log the
// unexpected call and fail.
#define SIM_STUB(name, ret, params)               \
  extern "C" ret ZR_API name params {             \
    AppendLogLine(#name " (not simulated) -> 0"); \
    return 0;                                     \
  }
FLASHWRIGHT_ENTRY_POINTS(FLASHWRIGHT_SKIP_ENTRY_POINT, SIM_STUB, FLASHWRIGHT_SKIP_ENTRY_POINT)
#undef SIM_STUB
