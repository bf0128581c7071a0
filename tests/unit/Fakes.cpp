// Fakes of the platform services and the simulated update library; see Fakes.h.
#include "Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "platform/Layout.h"
#include "updatelib/Binding.h"

namespace fakes {
namespace {

const std::string DefaultPath = "\\\\?\\usb#vid_0001&pid_0002#0001";

sim::SimDevice DefaultDevice(std::string path) {
  sim::SimDevice device;
  device.path = std::move(path);
  device.vendor = "VENDOR";
  device.product = "Bridge Product";
  return device;
}

sim::Scenario DefaultWorld() {
  sim::Scenario world;
  world.devices = {DefaultDevice(DefaultPath)};
  return world;
}

// The text of a quoted log value starting at `at` (its opening quote): \" and \xNN undone.
std::string Unquote(std::string_view line, std::size_t& at) {
  std::string text;
  for (++at; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size() && line[at + 1] == '"') {
      text += '"';
      ++at;
    } else if (line[at] == '\\' && at + 3 < line.size() && line[at + 1] == 'x' &&
               std::isxdigit(static_cast<unsigned char>(line[at + 2])) &&
               std::isxdigit(static_cast<unsigned char>(line[at + 3]))) {
      text += static_cast<char>(std::stoi(std::string(line.substr(at + 2, 2)), nullptr, 16));
      at += 3;
    } else {
      text += line[at];
    }
  }
  ++at;
  return text;
}

// The number after " key=" in the line, from `at` on.
std::string ValueOf(std::string_view line, std::string_view key, std::size_t at) {
  const std::size_t found = line.find(" " + std::string(key) + "=", at);
  if (found == std::string_view::npos) return "?";
  const std::size_t begin = found + key.size() + 2;
  return std::string(line.substr(begin, line.find(' ', begin) - begin));
}

// The promises the program makes to the library about what it hands in, checked before the
// simulator's entry point runs: empty path slots, out-values preset to 0, zero-filled buffers.
updatelib::ZR_GetDeviceList_Fn SimGetDeviceList;
updatelib::ZR_GetRunningCodeMode_Fn SimGetRunningCodeMode;
updatelib::ZR_GetFWVersion_Fn SimGetFWVersion;
updatelib::ZR_Inquiry_Fn SimInquiry;

int ZR_API CheckedGetDeviceList(char** paths, int* count) {
  for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
    EXPECT_EQ(paths[i][0], '\0') << "slots hold an empty text";
  }
  return SimGetDeviceList(paths, count);
}
int ZR_API CheckedGetRunningCodeMode(char* path, int* mode) {
  EXPECT_EQ(*mode, 0) << "the mode is preset to 0";
  return SimGetRunningCodeMode(path, mode);
}
int ZR_API CheckedGetFWVersion(char* path, char* version) {
  for (std::size_t i = 0; i < updatelib::VersionBufferSize; ++i) {
    EXPECT_EQ(version[i], '\0') << "the version buffer is zero-filled";
  }
  return SimGetFWVersion(path, version);
}
int ZR_API CheckedInquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  EXPECT_EQ(*dataLength, 0);
  return SimInquiry(path, buffer, bufferLength, dataLength);
}

template <class Function>
platform::RawProc Raw(Function* function) {
  return reinterpret_cast<platform::RawProc>(function);
}

// The simulator's entry point `name`, behind its promise check where it has one.
platform::RawProc Checked(const char* name, platform::RawProc simulated) {
  const std::string_view wanted = name;
  if (wanted == "ZR_GetDeviceList") {
    SimGetDeviceList = reinterpret_cast<updatelib::ZR_GetDeviceList_Fn>(simulated);
    return Raw(&CheckedGetDeviceList);
  }
  if (wanted == "ZR_GetRunningCodeMode") {
    SimGetRunningCodeMode = reinterpret_cast<updatelib::ZR_GetRunningCodeMode_Fn>(simulated);
    return Raw(&CheckedGetRunningCodeMode);
  }
  if (wanted == "ZR_GetFWVersion") {
    SimGetFWVersion = reinterpret_cast<updatelib::ZR_GetFWVersion_Fn>(simulated);
    return Raw(&CheckedGetFWVersion);
  }
  if (wanted == "ZR_Inquiry") {
    SimInquiry = reinterpret_cast<updatelib::ZR_Inquiry_Fn>(simulated);
    return Raw(&CheckedInquiry);
  }
  return simulated;
}

const char* Name(platform::ControlId id) { return platform::SpecOf(id).name; }

}  // namespace

std::optional<std::string> CallOf(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string name(line.substr(0, space));
  if (name.rfind("ZR_", 0) != 0) return std::nullopt;
  std::string_view rest = line.substr(space + 1);
  if (rest.rfind("crash", 0) == 0) return name + " crash";
  if (rest.rfind("(not simulated)", 0) == 0) return name + " (not simulated)";
  if (rest.rfind("value=", 0) == 0) return name + "(" + ValueOf(line, "value", 0) + ")";
  if (rest.rfind("-> ", 0) == 0) return name;
  if (rest.rfind("path=", 0) != 0) return std::nullopt;  // stall, pump, message-window
  std::size_t at = space + 1 + 5;
  std::string call = name + "(" + (line[at] == '"' ? Unquote(line, at) : "null");
  const bool unknown = line.find(" unknown-device", at) != std::string_view::npos;
  // Programming logs when it begins and again when it ends: the call is its begin line.
  if (name == "ZR_FWUpdateProgrammingNoCustomizedSetting" && !unknown &&
      line.substr(at).rfind(" begin ", 0) != 0) {
    return std::nullopt;
  }
  if (name == "ZR_CheckLoadBinFileMatch" && !unknown) call += "," + ValueOf(line, "flag", at);
  if (name == "ZR_Inquiry" && !unknown) call += "," + ValueOf(line, "bufferLength", at);
  return call + ")";
}

SimulatedLibrary::SimulatedLibrary() : binding_(DefaultWorld(), MakeHost()) {}

sim::SimHost SimulatedLibrary::MakeHost() {
  sim::SimHost host;
  host.log = [this](const std::string& line) { Log(line); };
  // The programming call's time: what the test runs while the device is programmed.
  host.sleep = [this](int) {
    const std::function<void()> action = duringProgramming;
    if (action) action();
  };
  host.pump = [this](int) {
    const std::function<void()> action = std::move(whilePumping_);
    whilePumping_ = nullptr;
    World().library.pump.clear();
    if (action) action();
  };
  host.crash = [this] {
    World().library.crash.clear();
    throw SimulatedFault{fault_};
  };
  return host;
}

SimulatedLibrary& SimulatedLibrary::Instance() {
  static SimulatedLibrary library;
  return library;
}

void SimulatedLibrary::Reset() {
  World() = DefaultWorld();
  calls.clear();
  duringProgramming = nullptr;
  whilePumping_ = nullptr;
}

void SimulatedLibrary::Log(const std::string& line) {
  if (line.find("(not simulated)") != std::string::npos) {
    ADD_FAILURE() << "an entry point the program must never call was called: " << line;
  }
  if (std::optional<std::string> call = CallOf(line)) calls.push_back(std::move(*call));
}

void SimulatedLibrary::SetDevices(const std::vector<std::string>& paths) {
  World().devices.clear();
  for (const std::string& path : paths) World().devices.push_back(DefaultDevice(path));
}

void SimulatedLibrary::SetIdentification(std::string_view bytes) {
  bytes = bytes.substr(0, std::min<std::size_t>(bytes.size(), 24));
  Device().vendor = bytes.substr(0, std::min<std::size_t>(bytes.size(), 8));
  Device().product = bytes.size() > 8 ? bytes.substr(8) : std::string_view();
}

void SimulatedLibrary::During(const std::string& name, std::function<void()> action) {
  World().library.pump = {{name, 0}};
  whilePumping_ = std::move(action);
}

void SimulatedLibrary::FaultOnce(const std::string& name, platform::Fault fault) {
  World().library.crash = {name};
  fault_ = fault;
}

platform::ModuleHandle FakeModuleLoader::FindLoaded(const char* moduleName) {
  EXPECT_STREQ(moduleName, updatelib::ModuleName);
  return alreadyLoaded;
}

platform::ModuleHandle FakeModuleLoader::Load(const char* fileName) {
  loadedFiles.emplace_back(fileName);
  return loadResult;
}

platform::RawProc FakeModuleLoader::Resolve(platform::ModuleHandle module, const char* name) {
  lookups.emplace_back(name);
  if (std::find(missing.begin(), missing.end(), name) != missing.end()) return nullptr;
  return Checked(name, SimulatedLibrary::Instance().Binding().Resolve(module, name));
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
