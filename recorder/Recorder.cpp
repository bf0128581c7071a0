// The recording stand-in for the update library: exports the same 89 entry points, passes every
// call to the vendor's library (VendorLibrary.h), and records each call of the twelve the
// program makes (arguments, out-values, result, time, messages handled, a fault) in the
// recording file as it happens (CallTracking.h, RecordingFile.h). The 77 others pass straight
// through. The recorder never fails a call of its own accord: whatever goes wrong with the
// recording is skipped.
#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>
#include <vector>

#include "recorder/CallTracking.h"
#include "recorder/RecordingFile.h"
#include "recorder/VendorLibrary.h"
#include "recording/CallFields.h"
#include "updatelib/EntryPoints.h"

namespace recorder {
namespace {

// How each called entry point is recorded: a function object over the entry point's arguments
// that makes the call through the vendor's library and writes its fields as calls:: describes
// them. An entry point taking one int is a setter; every other one has its own below.
template <Entry Called>
struct RecordedEntry {
  int operator()(int value) const {
    return Recorded(
        NameOf(Called), [&] { return Arguments<calls::Setter>(value); },
        [&] { return Target<int(ZR_API*)(int)>(Called)(value); }, [](std::vector<Field>&) {});
  }
};

template <>
struct RecordedEntry<Entry::ZR_GetDeviceList> {
  int operator()(char** paths, int* count) const {
    // The slot pointers as the program gave them: a library may overwrite the array.
    std::array<char*, keys::ListedPaths.count> slots{};
    if (paths) std::copy_n(paths, slots.size(), slots.begin());
    return Recorded(
        NameOf(Entry::ZR_GetDeviceList), [] { return Arguments<calls::ZR_GetDeviceList>(); },
        [&] {
          return Target<updatelib::ZR_GetDeviceList_Fn>(Entry::ZR_GetDeviceList)(paths, count);
        },
        [&](std::vector<Field>& out) {
          if (!count) return;
          out.push_back(Write(keys::Count, *count));
          const int listed = std::clamp(*count, 0, static_cast<int>(slots.size()));
          for (int i = 0; i < listed; ++i) {
            if (!slots[i]) continue;
            out.push_back(Write(keys::ListedPaths, static_cast<std::size_t>(i),
                                TextBytes(slots[i], updatelib::PathBufferSize)));
          }
          if (paths && !std::equal(slots.begin(), slots.end(), paths)) {
            out.push_back(Write(keys::SlotsOverwritten));
          }
        });
  }
};

// A call about one device whose out-value is one int.
template <Entry Called, typename Call, typename Fn>
int RecordedIntQuery(char* path, int* value, IntKey key) {
  return Recorded(
      NameOf(Called), [&] { return Arguments<Call>(path); },
      [&] { return Target<Fn>(Called)(path, value); },
      [&](std::vector<Field>& out) {
        if (value) out.push_back(Write(key, *value));
      });
}

template <>
struct RecordedEntry<Entry::ZR_GetChipType> {
  int operator()(char* path, int* chipType) const {
    return RecordedIntQuery<Entry::ZR_GetChipType, calls::ZR_GetChipType,
                            updatelib::ZR_GetChipType_Fn>(path, chipType, keys::ChipType);
  }
};

template <>
struct RecordedEntry<Entry::ZR_GetRunningCodeMode> {
  int operator()(char* path, int* mode) const {
    return RecordedIntQuery<Entry::ZR_GetRunningCodeMode, calls::ZR_GetRunningCodeMode,
                            updatelib::ZR_GetRunningCodeMode_Fn>(path, mode, keys::Mode);
  }
};

template <>
struct RecordedEntry<Entry::ZR_GetFWVersion> {
  int operator()(char* path, char* version) const {
    return Recorded(
        NameOf(Entry::ZR_GetFWVersion), [&] { return Arguments<calls::ZR_GetFWVersion>(path); },
        [&] {
          return Target<updatelib::ZR_GetFWVersion_Fn>(Entry::ZR_GetFWVersion)(path, version);
        },
        [&](std::vector<Field>& out) {
          if (version) {
            out.push_back(Write(keys::Version, TextBytes(version, updatelib::VersionBufferSize)));
          }
        });
  }
};

template <>
struct RecordedEntry<Entry::ZR_CheckLoadBinFileMatch> {
  int operator()(char* path, int flag) const {
    return Recorded(
        NameOf(Entry::ZR_CheckLoadBinFileMatch),
        [&] { return Arguments<calls::ZR_CheckLoadBinFileMatch>(path, flag); },
        [&] {
          return Target<updatelib::ZR_CheckLoadBinFileMatch_Fn>(Entry::ZR_CheckLoadBinFileMatch)(
              path, flag);
        },
        [](std::vector<Field>&) {});
  }
};

template <>
struct RecordedEntry<Entry::ZR_Inquiry> {
  int operator()(char* path, unsigned char* buffer, int bufferLength, int* dataLength) const {
    return Recorded(
        NameOf(Entry::ZR_Inquiry), [&] { return Arguments<calls::ZR_Inquiry>(path, bufferLength); },
        [&] {
          return Target<updatelib::ZR_Inquiry_Fn>(Entry::ZR_Inquiry)(path, buffer, bufferLength,
                                                                     dataLength);
        },
        [&](std::vector<Field>& out) {
          if (!dataLength) return;
          out.push_back(Write(keys::DataLength, *dataLength));
          // The bytes the library says it wrote, within what it was promised.
          const int length = std::clamp(*dataLength, 0, std::max(bufferLength, 0));
          if (buffer) {
            out.push_back(Write(keys::Data, std::string_view(reinterpret_cast<const char*>(buffer),
                                                             static_cast<std::size_t>(length))));
          }
        });
  }
};

template <>
struct RecordedEntry<Entry::ZR_InitialCustomizedSettingTable> {
  int operator()() const {
    return Recorded(
        NameOf(Entry::ZR_InitialCustomizedSettingTable),
        [] { return Arguments<calls::ZR_InitialCustomizedSettingTable>(); },
        [] {
          return Target<updatelib::ZR_InitialCustomizedSettingTable_Fn>(
              Entry::ZR_InitialCustomizedSettingTable)();
        },
        [](std::vector<Field>&) {});
  }
};

template <>
struct RecordedEntry<Entry::ZR_FWUpdateProgrammingNoCustomizedSetting> {
  int operator()(char* path) const {
    constexpr Entry Called = Entry::ZR_FWUpdateProgrammingNoCustomizedSetting;
    return Recorded(
        NameOf(Called),
        [&] { return Arguments<calls::ZR_FWUpdateProgrammingNoCustomizedSetting>(path); },
        [&] {
          return Target<updatelib::ZR_FWUpdateProgrammingNoCustomizedSetting_Fn>(Called)(path);
        },
        [](std::vector<Field>&) {});
  }
};

}  // namespace
}  // namespace recorder

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    // Without the vendor's library, or with one lacking an entry point, refuse to load: the
    // program then reports the library as it reports any it cannot bind.
    return recorder::BindVendor(instance) ? TRUE : FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) {
    // Nothing of ours may outlive the code: a hook or handler left by a faulted call goes too.
    recorder::StopWatching();
    recorder::CloseRecordingFile();
    recorder::ReleaseVendor(reserved != nullptr);
  }
  return TRUE;
}

// The twelve recorded entry points, one export each; the types are the program's own.
#define REC_RECORDED(name, ret, params)                                                     \
  extern "C" ret ZR_API name(FLASHWRIGHT_PARAMETERS(ret, params)) {                         \
    return recorder::RecordedEntry<recorder::Entry::name>{}(FLASHWRIGHT_ARGUMENTS(params)); \
  }                                                                                         \
  static_assert(std::is_same_v<decltype(&name), updatelib::name##_Fn>,                      \
                #name " does not match the program's signature");
FLASHWRIGHT_CALLED_ENTRY_POINTS(REC_RECORDED)
#undef REC_RECORDED
