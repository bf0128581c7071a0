// The recording stand-in for the update library: exports the same 89 entry points, passes every
// call to ZRFWUpdateDll-vendor.dll from its own folder, and records each call of the twelve the
// program makes (arguments, out-values, result, time, messages handled, a fault) in a recording
// file as it happens. The 77 others pass straight through. The recorder never fails a call of
// its own accord: whatever goes wrong with the recording is skipped.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "recorder/Recording.h"
#include "updatelib/EntryPoints.h"

namespace {

using recorder::Field;
using recorder::RecordedCall;

// ---- the vendor's library -------------------------------------------------------------------

constexpr wchar_t VendorFileName[] = L"ZRFWUpdateDll-vendor.dll";

#define REC_ENUM(name, ...) name,
enum class Entry {
  FLASHWRIGHT_ENTRY_POINTS(REC_ENUM, REC_ENUM, FLASHWRIGHT_SKIP_ENTRY_POINT) Count
};
#undef REC_ENUM
#define REC_NAME(name, ...) #name,
constexpr std::array<const char*, static_cast<std::size_t>(Entry::Count)> EntryNames = {
    FLASHWRIGHT_ENTRY_POINTS(REC_NAME, REC_NAME, FLASHWRIGHT_SKIP_ENTRY_POINT)};
#undef REC_NAME
static_assert(EntryNames.size() == updatelib::EntryPointCount);

HMODULE Vendor = nullptr;
// Resolved entry points, held untyped; each is called through its listed type.
std::array<void*, EntryNames.size()> Targets{};

// Loads the vendor's library by its full path beside this file, never through the search order,
// and resolves every entry point; false (nothing kept) when it is missing or lacks one.
bool BindVendor(HMODULE self) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return false;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return false;
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  path = path.substr(0, slash + 1) + VendorFileName;
  // The vendor's own dependencies are looked for beside it first.
  HMODULE vendor = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (vendor == nullptr) return false;
  for (std::size_t i = 0; i < EntryNames.size(); ++i) {
    Targets[i] = reinterpret_cast<void*>(GetProcAddress(vendor, EntryNames[i]));
    if (Targets[i] == nullptr) {
      FreeLibrary(vendor);
      return false;
    }
  }
  Vendor = vendor;
  return true;
}

template <typename Fn>
Fn Target(Entry entry) {
  return reinterpret_cast<Fn>(Targets[static_cast<std::size_t>(entry)]);
}

// ---- the recording file ---------------------------------------------------------------------

HANDLE File = INVALID_HANDLE_VALUE;
bool FileTried = false;
unsigned long SkippedLines = 0;

std::wstring Environment(const wchar_t* name) {
  std::wstring value(512, L'\0');
  DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  }
  if (length == 0 || length >= value.size()) return {};
  value.resize(length);
  return value;
}

// %ProgramData%\Flashwright\recordings\<UTC time>-<process id>.fwrec, its folders created.
std::wstring DefaultRecordingPath() {
  std::wstring folder = Environment(L"ProgramData");
  if (folder.empty()) return {};
  for (const wchar_t* part : {L"\\Flashwright", L"\\recordings"}) {
    folder += part;
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  wchar_t name[64];
  std::swprintf(name, 64, L"\\%04u%02u%02uT%02u%02u%02uZ-%lu.fwrec", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
  return folder + name;
}

void WriteText(const std::string& text) {
  DWORD written = 0;
  if (!WriteFile(File, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    ++SkippedLines;
  }
}

// Appends one line, as one write the system holds at once: a crash of the process keeps it. A
// line that cannot be written is skipped and counted, and the count said before the next line
// that can.
void WriteLine(const std::string& line) {
  if (!FileTried) {
    FileTried = true;
    // FLASHWRIGHT_RECORDING names the file (replaced); a Unix path is taken as Wine's Z: drive.
    std::wstring path = Environment(L"FLASHWRIGHT_RECORDING");
    if (!path.empty() && path.front() == L'/') {
      std::replace(path.begin(), path.end(), L'/', L'\\');
      path = L"Z:" + path;
    }
    if (path.empty()) path = DefaultRecordingPath();
    if (!path.empty()) {
      File = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (File != INVALID_HANDLE_VALUE) {
      WriteText(std::string(recorder::FormatHeader) +
                "\n# calls of the update library, one a line; see support-recording.md\n");
    }
  }
  if (File == INVALID_HANDLE_VALUE) return;
  if (SkippedLines > 0) {
    const unsigned long skipped = SkippedLines;
    SkippedLines = 0;
    WriteText("# " + std::to_string(skipped) + " line(s) could not be written here\n");
    if (SkippedLines > 0) SkippedLines = skipped;  // the note failed too: say it all later
  }
  WriteText(line + "\n");
}

// ---- one recorded call ----------------------------------------------------------------------

// A call in progress. Calls nest when the library handles messages and the program calls again
// meanwhile; the innermost is last. A call the program's fault handling left is still here until
// the next call (or unloading) finds it faulted.
struct ActiveCall {
  RecordedCall record;
  LARGE_INTEGER start{};
  std::map<UINT, int> kinds;
  bool faultWritten = false;
};
std::vector<ActiveCall> Calls;
std::uint64_t NextSequence = 1;
DWORD CallThread = 0;
HHOOK PostedHook = nullptr;
HHOOK SentHook = nullptr;
PVOID FaultHandler = nullptr;

std::int64_t MicrosSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return (now.QuadPart - start.QuadPart) * 1000000 / std::max<LONGLONG>(frequency.QuadPart, 1);
}

void CountMessage(UINT message) {
  for (ActiveCall& call : Calls) {
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
  if (Calls.empty() || GetCurrentThreadId() != CallThread || info == nullptr ||
      info->ExceptionRecord == nullptr) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const EXCEPTION_RECORD& exception = *info->ExceptionRecord;
  // Warnings and errors only; informational exceptions (a debugger's thread names, debug
  // output) are no faults.
  if (exception.ExceptionCode < 0x80000000u) return EXCEPTION_CONTINUE_SEARCH;
  ActiveCall& call = Calls.back();
  if (call.faultWritten) return EXCEPTION_CONTINUE_SEARCH;
  call.faultWritten = true;
  try {
    call.record.fault = recorder::Fault{
        static_cast<std::uint32_t>(exception.ExceptionCode),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress))};
    Finish(call);
    RecordedCall faulting = call.record;
    faulting.result.reset();
    WriteLine(recorder::FormatCall(faulting));
  } catch (...) {
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void StopWatching() {
  if (PostedHook) UnhookWindowsHookEx(PostedHook);
  if (SentHook) UnhookWindowsHookEx(SentHook);
  if (FaultHandler) RemoveVectoredExceptionHandler(FaultHandler);
  PostedHook = SentHook = nullptr;
  FaultHandler = nullptr;
}

// Starts recording a call and gives its place among the calls running: the hooks and the fault
// handler are there only while a call runs.
std::size_t Begin(const char* name, std::vector<Field> in) {
  // Calls that faulted and never came back: the program took over. A call still running below
  // them (this one is nested in it) keeps its place.
  while (!Calls.empty() && Calls.back().faultWritten) Calls.pop_back();
  if (Calls.empty()) {
    StopWatching();
    CallThread = GetCurrentThreadId();
    PostedHook = SetWindowsHookExW(WH_GETMESSAGE, PostedMessageSeen, nullptr, CallThread);
    SentHook = SetWindowsHookExW(WH_CALLWNDPROC, SentMessageSeen, nullptr, CallThread);
    FaultHandler = AddVectoredExceptionHandler(1, FaultSeen);
  }
  ActiveCall call;
  call.record.sequence = NextSequence++;
  call.record.name = name;
  call.record.in = std::move(in);
  Calls.push_back(std::move(call));
  QueryPerformanceCounter(&Calls.back().start);
  return Calls.size() - 1;
}

// Forgets the call at `place` and every call above it (nested calls that faulted and never came
// back); the hooks go with the last call.
void Forget(std::size_t place) {
  if (place < Calls.size()) Calls.resize(place);
  if (Calls.empty()) StopWatching();
}

// Ends the call at `place`: its out-values from `fill`, then its line.
template <typename Fill>
void End(std::size_t place, int result, Fill fill) {
  if (place >= Calls.size()) return;  // dropped meanwhile, after a fault
  Calls.resize(place + 1);
  ActiveCall& call = Calls.back();
  Finish(call);
  call.record.result = result;
  fill(call.record.out);
  WriteLine(recorder::FormatCall(call.record));
  Forget(place);
}

// Passes one call through, recording it. `in` describes the arguments, `call` makes the call,
// `fill` adds the out-values once it has returned. The recording's own trouble never reaches
// the program: the call is made whatever happens to its record.
template <typename In, typename Call, typename Fill>
int Recorded(Entry entry, In in, Call call, Fill fill) {
  std::optional<std::size_t> place;
  try {
    place = Begin(EntryNames[static_cast<std::size_t>(entry)], in());
  } catch (...) {
  }
  const int result = call();
  if (place) {
    try {
      End(*place, result, fill);
    } catch (...) {
      Forget(*place);
    }
  }
  return result;
}

void NoOut(std::vector<Field>&) {}

int RecordedSetter(Entry entry, int value) {
  return Recorded(
      entry, [&] { return std::vector<Field>{recorder::IntArgument("value", value)}; },
      [&] { return Target<int(ZR_API*)(int)>(entry)(value); }, NoOut);
}

int RecordedPathCall(Entry entry, char* path, int (*call)(char*),
                     void (*fill)(std::vector<Field>&)) {
  return Recorded(
      entry, [&] { return std::vector<Field>{recorder::PathArgument(path)}; },
      [&] { return call(path); }, fill);
}

Field BytesOut(std::string key, const std::string& bytes) {
  return {std::move(key), recorder::Hex(bytes)};
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    // Without the vendor's library, or with one lacking an entry point, refuse to load: the
    // program then reports the library as it reports any it cannot bind.
    return BindVendor(instance) ? TRUE : FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) {
    // Nothing of ours may outlive the code: a hook or handler left by a faulted call goes too.
    StopWatching();
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    File = INVALID_HANDLE_VALUE;
    if (reserved == nullptr && Vendor != nullptr) FreeLibrary(Vendor);
  }
  return TRUE;
}

extern "C" {

int ZR_API ZR_SetKV7300BindingCheck(int value) {
  return RecordedSetter(Entry::ZR_SetKV7300BindingCheck, value);
}
int ZR_API ZR_SetZRKeepLast4KFileCopyNVRamchk(int value) {
  return RecordedSetter(Entry::ZR_SetZRKeepLast4KFileCopyNVRamchk, value);
}
int ZR_API ZR_SetLoadEndUserFWFromResourceFlag(int value) {
  return RecordedSetter(Entry::ZR_SetLoadEndUserFWFromResourceFlag, value);
}
int ZR_API ZR_SetKV7300FWModuleForEndUserFWResource(int value) {
  return RecordedSetter(Entry::ZR_SetKV7300FWModuleForEndUserFWResource, value);
}

int ZR_API ZR_GetDeviceList(char** paths, int* count) {
  // The slot pointers as the program gave them: a library may overwrite the array.
  std::array<char*, updatelib::DeviceListSlotCount> slots{};
  if (paths) std::copy_n(paths, slots.size(), slots.begin());
  return Recorded(
      Entry::ZR_GetDeviceList, [] { return std::vector<Field>{}; },
      [&] { return Target<updatelib::ZR_GetDeviceList_Fn>(Entry::ZR_GetDeviceList)(paths, count); },
      [&](std::vector<Field>& out) {
        if (!count) return;
        out.push_back(recorder::IntArgument("count", *count));
        const int listed = std::clamp(*count, 0, static_cast<int>(slots.size()));
        for (int i = 0; i < listed; ++i) {
          if (!slots[i]) continue;
          out.push_back(BytesOut("path" + std::to_string(i),
                                 recorder::TextBytes(slots[i], updatelib::PathBufferSize)));
        }
        if (paths && !std::equal(slots.begin(), slots.end(), paths)) {
          out.push_back({"slots", "overwritten"});
        }
      });
}

int ZR_API ZR_GetChipType(char* path, int* chipType) {
  return Recorded(
      Entry::ZR_GetChipType, [&] { return std::vector<Field>{recorder::PathArgument(path)}; },
      [&] { return Target<updatelib::ZR_GetChipType_Fn>(Entry::ZR_GetChipType)(path, chipType); },
      [&](std::vector<Field>& out) {
        if (chipType) out.push_back(recorder::IntArgument("chipType", *chipType));
      });
}

int ZR_API ZR_GetRunningCodeMode(char* path, int* mode) {
  return Recorded(
      Entry::ZR_GetRunningCodeMode,
      [&] { return std::vector<Field>{recorder::PathArgument(path)}; },
      [&] {
        return Target<updatelib::ZR_GetRunningCodeMode_Fn>(Entry::ZR_GetRunningCodeMode)(path,
                                                                                         mode);
      },
      [&](std::vector<Field>& out) {
        if (mode) out.push_back(recorder::IntArgument("mode", *mode));
      });
}

int ZR_API ZR_GetFWVersion(char* path, char* version) {
  return Recorded(
      Entry::ZR_GetFWVersion, [&] { return std::vector<Field>{recorder::PathArgument(path)}; },
      [&] { return Target<updatelib::ZR_GetFWVersion_Fn>(Entry::ZR_GetFWVersion)(path, version); },
      [&](std::vector<Field>& out) {
        if (version) {
          out.push_back(
              BytesOut("version", recorder::TextBytes(version, updatelib::VersionBufferSize)));
        }
      });
}

int ZR_API ZR_CheckLoadBinFileMatch(char* path, int flag) {
  return Recorded(
      Entry::ZR_CheckLoadBinFileMatch,
      [&] {
        return std::vector<Field>{recorder::PathArgument(path),
                                  recorder::IntArgument("flag", flag)};
      },
      [&] {
        return Target<updatelib::ZR_CheckLoadBinFileMatch_Fn>(Entry::ZR_CheckLoadBinFileMatch)(
            path, flag);
      },
      NoOut);
}

int ZR_API ZR_Inquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  return Recorded(
      Entry::ZR_Inquiry,
      [&] {
        return std::vector<Field>{recorder::PathArgument(path),
                                  recorder::IntArgument("bufferLength", bufferLength)};
      },
      [&] {
        return Target<updatelib::ZR_Inquiry_Fn>(Entry::ZR_Inquiry)(path, buffer, bufferLength,
                                                                   dataLength);
      },
      [&](std::vector<Field>& out) {
        if (!dataLength) return;
        out.push_back(recorder::IntArgument("dataLength", *dataLength));
        // The bytes the library says it wrote, within what it was promised.
        const int length = std::clamp(*dataLength, 0, std::max(bufferLength, 0));
        if (buffer) {
          out.push_back(BytesOut("data", std::string(reinterpret_cast<const char*>(buffer),
                                                     static_cast<std::size_t>(length))));
        }
      });
}

int ZR_API ZR_InitialCustomizedSettingTable(void) {
  return Recorded(
      Entry::ZR_InitialCustomizedSettingTable, [] { return std::vector<Field>{}; },
      [] {
        return Target<updatelib::ZR_InitialCustomizedSettingTable_Fn>(
            Entry::ZR_InitialCustomizedSettingTable)();
      },
      NoOut);
}

int ZR_API ZR_FWUpdateProgrammingNoCustomizedSetting(char* path) {
  return RecordedPathCall(
      Entry::ZR_FWUpdateProgrammingNoCustomizedSetting, path,
      [](char* device) {
        return Target<updatelib::ZR_FWUpdateProgrammingNoCustomizedSetting_Fn>(
            Entry::ZR_FWUpdateProgrammingNoCustomizedSetting)(device);
      },
      NoOut);
}

}  // extern "C"

// The recorded entry points must have exactly the types the program calls them through.
#define REC_CHECK_SIGNATURE(name, ret, params)                         \
  static_assert(std::is_same_v<decltype(&name), updatelib::name##_Fn>, \
                #name " does not match the program's signature");
FLASHWRIGHT_CALLED_ENTRY_POINTS(REC_CHECK_SIGNATURE)
#undef REC_CHECK_SIGNATURE

// The 77 entry points the program never calls pass straight through, each with the parameter
// list FLASHWRIGHT_ENTRY_POINTS gives it (p0, p1, ... named here), so the stack is the caller's.
#define REC_CAT_I(a, b) a##b
#define REC_CAT(a, b) REC_CAT_I(a, b)
#define REC_COUNT_I(a, b, c, d, n, ...) n
#define REC_COUNT(...) REC_COUNT_I(__VA_ARGS__, 4, 3, 2, 1, 0)
#define REC_NAMED_1(a) a p0
#define REC_NAMED_2(a, b) a p0, b p1
#define REC_NAMED_3(a, b, c) a p0, b p1, c p2
#define REC_NAMED_4(a, b, c, d) a p0, b p1, c p2, d p3
#define REC_ARGS_1 p0
#define REC_ARGS_2 p0, p1
#define REC_ARGS_3 p0, p1, p2
#define REC_ARGS_4 p0, p1, p2, p3
#define REC_NAMED_I(...) REC_CAT(REC_NAMED_, REC_COUNT(__VA_ARGS__))(__VA_ARGS__)
#define REC_ARGS_I(...) REC_CAT(REC_ARGS_, REC_COUNT(__VA_ARGS__))
#define REC_PASS_THROUGH(name, ret, params)                             \
  extern "C" ret ZR_API name(REC_NAMED_I params) {                      \
    return Target<ret(ZR_API*) params>(Entry::name)(REC_ARGS_I params); \
  }
FLASHWRIGHT_ENTRY_POINTS(FLASHWRIGHT_SKIP_ENTRY_POINT, REC_PASS_THROUGH,
                         FLASHWRIGHT_SKIP_ENTRY_POINT)
#undef REC_PASS_THROUGH
