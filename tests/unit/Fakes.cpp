// Fakes of the platform services and of the update library; see Fakes.h.
#include "Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/Layout.h"
#include "updatelib/Binding.h"

namespace fakes {
namespace {

// Records the call, then runs what the test put at its start.
void Record(std::string call) {
  FakeLibrary& library = FakeLibrary::Instance();
  const std::string name = call.substr(0, call.find('('));
  library.calls.push_back(std::move(call));
  const auto during = library.during.find(name);
  if (during == library.during.end() || !during->second) return;
  const std::function<void()> action = during->second;  // it may remove itself
  action();
}

int ZR_API ZR_SetKV7300BindingCheck(int value) {
  Record("ZR_SetKV7300BindingCheck(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API ZR_SetZRKeepLast4KFileCopyNVRamchk(int value) {
  Record("ZR_SetZRKeepLast4KFileCopyNVRamchk(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API ZR_SetLoadEndUserFWFromResourceFlag(int value) {
  Record("ZR_SetLoadEndUserFWFromResourceFlag(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API ZR_SetKV7300FWModuleForEndUserFWResource(int value) {
  Record("ZR_SetKV7300FWModuleForEndUserFWResource(" + std::to_string(value) + ")");
  return 1;
}
FakeLibrary& Lib() { return FakeLibrary::Instance(); }

int ZR_API ZR_GetDeviceList(char** paths, int* count) {
  Record("ZR_GetDeviceList");
  FakeLibrary& lib = Lib();
  for (std::size_t i = 0; i < lib.devices.size() && i < updatelib::DeviceListSlotCount; ++i) {
    EXPECT_EQ(paths[i][0], '\0') << "slots hold an empty text";
    std::strncpy(paths[i], lib.devices[i].c_str(), updatelib::PathBufferSize - 1);
  }
  if (lib.unterminatedPath) std::memset(paths[0], 'A', updatelib::PathBufferSize);
  for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
    std::memset(paths[i] + updatelib::PathBufferSize, 'X', lib.overrun);
  }
  if (lib.overwriteSlotPointers) {
    for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
      paths[i] = i % 2 == 0 ? nullptr : reinterpret_cast<char*>(std::uintptr_t{0xDEADBEE0u} + i);
    }
  }
  *count = lib.reportedCount.value_or(static_cast<int>(lib.devices.size()));
  return 1;
}
int ZR_API ZR_GetChipType(char* path, int* chipType) {
  Record(std::string("ZR_GetChipType(") + path + ")");
  *chipType = Lib().chipType;
  return 1;
}
int ZR_API ZR_GetRunningCodeMode(char* path, int* mode) {
  Record(std::string("ZR_GetRunningCodeMode(") + path + ")");
  EXPECT_EQ(*mode, 0) << "the mode is preset to 0";
  *mode = Lib().mode;
  return 1;
}
int ZR_API ZR_GetFWVersion(char* path, char* version) {
  Record(std::string("ZR_GetFWVersion(") + path + ")");
  for (std::size_t i = 0; i < updatelib::VersionBufferSize; ++i) {
    EXPECT_EQ(version[i], '\0') << "the version buffer is zero-filled";
  }
  std::memcpy(version, Lib().version.data(), updatelib::VersionBufferSize);
  std::memset(version + updatelib::VersionBufferSize, 'X', Lib().overrun);
  return Lib().versionResult;
}
int ZR_API ZR_CheckLoadBinFileMatch(char* path, int flag) {
  Record(std::string("ZR_CheckLoadBinFileMatch(") + path + "," + std::to_string(flag) + ")");
  return Lib().imageFits;
}
int ZR_API ZR_Inquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  Record(std::string("ZR_Inquiry(") + path + "," + std::to_string(bufferLength) + ")");
  EXPECT_EQ(*dataLength, 0);
  std::memcpy(buffer, Lib().inquiry.data(), std::min<std::size_t>(40, bufferLength));
  std::memset(buffer + bufferLength, 'X', Lib().overrun);
  *dataLength = 36;
  return Lib().inquiryResult;
}
int ZR_API ZR_InitialCustomizedSettingTable() {
  return Record("ZR_InitialCustomizedSettingTable"), 1;
}
int ZR_API ZR_FWUpdateProgrammingNoCustomizedSetting(char* path) {
  Record(std::string("ZR_FWUpdateProgrammingNoCustomizedSetting(") + path + ")");
  if (Lib().duringProgramming) Lib().duringProgramming();
  const auto differs = Lib().programResultFor.find(path);
  return differs != Lib().programResultFor.end() ? differs->second : Lib().programResult;
}
void NeverCalled() { ADD_FAILURE() << "an entry point the program must never call was called"; }

template <class Function>
platform::RawProc Raw(Function* function) {
  return reinterpret_cast<platform::RawProc>(function);
}

// Each entry point the program calls resolves to the fake of its own name above.
const std::map<std::string, platform::RawProc>& CalledEntryPoints() {
#define FAKE_ENTRY_POINT(name, ret, params) {#name, Raw(static_cast<updatelib::name##_Fn>(&name))},
  static const std::map<std::string, platform::RawProc> procs = {
      FLASHWRIGHT_CALLED_ENTRY_POINTS(FAKE_ENTRY_POINT)};
#undef FAKE_ENTRY_POINT
  return procs;
}

const char* Name(platform::ControlId id) { return platform::SpecOf(id).name; }

}  // namespace

FakeLibrary::FakeLibrary() {
  SetVersion("00.01.01.05");
  SetIdentification("VENDOR  Bridge Product");
}

void FakeLibrary::SetVersion(std::string_view text) {
  version.fill('\0');
  std::memcpy(version.data(), text.data(), std::min(text.size(), version.size()));
}

void FakeLibrary::SetIdentification(std::string_view bytes) {
  inquiry.fill(0);
  std::memset(inquiry.data() + 8, ' ', 24);
  std::memcpy(inquiry.data() + 8, bytes.data(), std::min<std::size_t>(bytes.size(), 24));
}

FakeLibrary& FakeLibrary::Instance() {
  static FakeLibrary library;
  return library;
}

platform::ModuleHandle FakeModuleLoader::FindLoaded(const char* moduleName) {
  EXPECT_STREQ(moduleName, updatelib::ModuleName);
  return alreadyLoaded;
}

platform::ModuleHandle FakeModuleLoader::Load(const char* fileName) {
  loadedFiles.emplace_back(fileName);
  return loadResult;
}

platform::RawProc FakeModuleLoader::Resolve(platform::ModuleHandle, const char* name) {
  lookups.emplace_back(name);
  if (std::find(missing.begin(), missing.end(), name) != missing.end()) return nullptr;
  const auto& called = CalledEntryPoints();
  const auto found = called.find(name);
  return found != called.end() ? found->second : &NeverCalled;
}

void FakeControls::SetText(platform::ControlId control, std::string_view text) {
  controls[control].text = text;
  log.push_back(std::string("text ") + Name(control) + "=" + std::string(text));
}

void FakeControls::SetVisible(platform::ControlId control, bool visible) {
  controls[control].visible = visible;
  log.push_back(std::string(visible ? "show " : "hide ") + Name(control));
}

void FakeControls::SetEnabled(platform::ControlId control, bool enabled) {
  controls[control].enabled = enabled;
  log.push_back(std::string(enabled ? "enable " : "disable ") + Name(control));
}

void FakeTimers::StartTimer(std::uintptr_t id, unsigned milliseconds) {
  log.push_back("start " + std::to_string(id) + " " + std::to_string(milliseconds));
  running_[id] = {now + static_cast<long>(milliseconds), static_cast<long>(milliseconds)};
}

void FakeTimers::CancelTimer(std::uintptr_t id) {
  log.push_back("cancel " + std::to_string(id));
  running_.erase(id);
}

void FakeTimers::Advance(long milliseconds) {
  const long end = now + milliseconds;
  for (;;) {
    auto next = running_.end();
    for (auto it = running_.begin(); it != running_.end(); ++it) {
      if (it->second.due <= end && (next == running_.end() || it->second.due < next->second.due)) {
        next = it;
      }
    }
    if (next == running_.end()) break;
    now = next->second.due;
    const std::uintptr_t id = next->first;
    next->second.due += next->second.period;  // periodic until cancelled, as window timers are
    fired.emplace_back(now, id);
    if (onFire) onFire(id);
  }
  now = end;
}

}  // namespace fakes
