// The simulated update library: answers each called entry point from the scenario world and
// writes one call-log line per call.
#include "sim/SimLibrary.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "recording/Recording.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

constexpr char UnterminatedFill = 'X';

std::string_view ReadPath(const char* path) {
  if (!path) return {};
  return {path, strnlen(path, updatelib::PathBufferSize)};
}

// A careless library's bytes past the end of a buffer it was promised.
void Overrun(void* buffer, std::size_t promisedSize, int bytes) {
  if (buffer && bytes > 0) {
    std::memset(static_cast<char*>(buffer) + promisedSize, UnterminatedFill,
                static_cast<std::size_t>(bytes));
  }
}

// Copies text into a buffer of bufferSize bytes: NUL-terminated (text cut to fit), or, when
// unterminated, filling every byte with the text followed by UnterminatedFill.
void WriteText(char* buffer, std::size_t bufferSize, const std::string& text, bool unterminated) {
  std::size_t length = std::min(text.size(), bufferSize - 1);
  std::memcpy(buffer, text.data(), length);
  if (unterminated) {
    std::memset(buffer + length, UnterminatedFill, bufferSize - length);
  } else {
    buffer[length] = '\0';
  }
}

// The time listed for an entry point, if it is listed.
std::optional<int> TimeFor(const std::vector<TimedMisbehaviour>& list, std::string_view name) {
  for (const TimedMisbehaviour& entry : list) {
    if (entry.entryPoint == name) return entry.ms;
  }
  return std::nullopt;
}

// Standard INQUIRY data for a removable direct-access device.
std::array<unsigned char, StandardInquiryLength> BuildInquiry(const SimDevice& device) {
  std::array<unsigned char, StandardInquiryLength> data;
  data.fill(' ');
  const unsigned char header[8] = {0x00, 0x80, 0x06, 0x02, StandardInquiryLength - 5, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), data.begin());
  // A world held in memory is not bound by the file's limits: longer texts are cut.
  std::copy_n(device.vendor.begin(), std::min(device.vendor.size(), MaxVendorLength),
              data.begin() + 8);
  std::copy_n(device.product.begin(), std::min(device.product.size(), MaxProductLength),
              data.begin() + 16);
  const char revision[] = "0001";
  std::copy(revision, revision + 4, data.begin() + 32);
  return data;
}

}  // namespace

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"') {
      out += "\\\"";
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += "\\x" + recorder::Hex(std::string_view(&c, 1));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void OverwriteSlotPointers(char** paths) {
  for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
    paths[i] = i % 2 == 0 ? nullptr
                          : reinterpret_cast<char*>(static_cast<std::uintptr_t>(0xDEADBEE0u + i));
  }
}

namespace {

// The structured exception `code` through the host's raise hook, or its crash hook without one.
void Raise(const SimHost& host, std::uint32_t code) {
  if (host.raise) {
    host.raise(code);
  } else if (host.crash) {
    host.crash();
  }
}

}  // namespace

// One running call: counted into the library's call depth while it runs, its log lines marked
// when it started inside another call.
class SimLibrary::Call {
 public:
  Call(SimLibrary& library, std::string_view name)
      : library_(library), name_(name), nested_(library.depth_ > 0) {
    ++library_.depth_;
  }
  ~Call() { Leave(); }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  std::string Name() const { return std::string(name_); }
  // A line starting with the entry point's name.
  void Log(const std::string& line) const {
    if (library_.Logging()) library_.Log(line + (nested_ ? " nested" : ""));
  }

  // Stalls, shows or waits for the note, pumps and crashes as the current world says for this
  // entry point. False when the call crashed and must return at once.
  bool Misbehave() {
    library_.EnsureLoaded();
    // Taken now: a call re-entered while pumping may re-read the world.
    const LibrarySettings& settings = library_.world_.library;
    // The usual case, kept cheap: a benchmark's time includes the library's answers.
    if (settings.stall.empty() && settings.pump.empty() && settings.crash.empty() &&
        settings.messageWindow.empty() && settings.modalMessage.empty() &&
        settings.throwCpp.empty() && settings.overflow.empty()) {
      return true;
    }
    const auto listed = [this](const std::vector<std::string>& names) {
      return std::find(names.begin(), names.end(), name_) != names.end();
    };
    const std::optional<int> stallMs = TimeFor(settings.stall, name_);
    const std::optional<int> modalMs = TimeFor(settings.modalMessage, name_);
    const std::optional<int> pumpMs = TimeFor(settings.pump, name_);
    const bool note = listed(settings.messageWindow);
    const char* fault = listed(settings.crash)      ? "crash"
                        : listed(settings.throwCpp) ? "throw"
                        : listed(settings.overflow) ? "overflow"
                                                    : nullptr;
    const SimHost& host = library_.host_;
    if (stallMs) {
      Log(Name() + " stall ms=" + std::to_string(*stallMs));
      if (host.sleep) host.sleep(*stallMs);
    }
    if (note) {
      // Logged once shown: showing takes no time, and a test waits for the note to exist.
      const bool shown = host.showNote ? host.showNote() : true;
      Log(Name() + " message-window" + (shown ? "" : " already-open"));
    }
    if (modalMs) {
      // A note already open is waited for as well: the call waits for whichever note is up.
      const bool shown = host.showNote ? host.showNote() : true;
      Log(Name() + " modal-message ms=" + std::to_string(*modalMs) +
          (shown ? "" : " already-open"));
      const bool closed = host.waitForNote ? host.waitForNote(*modalMs) : true;
      Log(Name() + " modal-message " + (closed ? "closed" : "timed-out"));
    }
    if (pumpMs) {
      Log(Name() + " pump ms=" + std::to_string(*pumpMs));
      if (host.pump) host.pump(*pumpMs);
    }
    if (fault == nullptr) return true;
    Log(Name() + " " + fault);
    // Left first: the fault does not come back here, and once the program has recovered its
    // next call is a top-level one.
    Leave();
    if (fault == std::string_view("throw")) {
      Raise(host, CppExceptionCode);
    } else if (fault == std::string_view("overflow")) {
      if (host.overflow) {
        host.overflow();
      } else {
        Raise(host, StackOverflowCode);
      }
    } else if (host.crash) {
      host.crash();
    }
    return false;
  }

 private:
  void Leave() {
    if (counted_) --library_.depth_;
    counted_ = false;
  }

  SimLibrary& library_;
  const std::string_view name_;
  const bool nested_;
  bool counted_ = true;
};

SimLibrary::SimLibrary(SimHost host) : host_(std::move(host)) {}

SimLibrary::SimLibrary(SimHost host, Scenario world)
    : host_(std::move(host)), world_(std::move(world)), inMemory_(true), loaded_(true) {}

void SimLibrary::Log(const std::string& line) {
  if (host_.log) host_.log(line);
}

void SimLibrary::Reload() {
  if (inMemory_) return;
  loaded_ = true;
  if (host_.scenarioFile.empty()) {
    // The built-in world lives in memory only; keep what programming recorded in it.
    if (world_.devices.empty()) world_ = DefaultScenario();
    return;
  }
  ParseResult parsed = LoadScenarioFile(host_.scenarioFile);
  if (parsed.scenario) {
    world_ = std::move(*parsed.scenario);
    return;
  }
  world_ = Scenario{};
  Log("error " + parsed.error);
  if (host_.error)
    host_.error("ZRFWUpdateDll simulator: " + parsed.error + " (presenting no device)");
}

void SimLibrary::EnsureLoaded() {
  if (!loaded_) Reload();
}

const SimDevice* SimLibrary::Find(const Call& call, const char* path) {
  EnsureLoaded();
  const std::string_view text = ReadPath(path);
  int index = path ? FindDevice(world_, text) : -1;
  if (index < 0) {
    if (Logging()) {
      call.Log(call.Name() + " path=" + (path ? Quote(text) : "null") + " -> 0 unknown-device");
    }
    return nullptr;
  }
  return &world_.devices[static_cast<std::size_t>(index)];
}

int SimLibrary::Setter(std::string_view name, int value) {
  Call call(*this, name);
  // The setters come before the first device list: Misbehave loads the world.
  if (!call.Misbehave()) return 0;
  const int result = world_.library.setterResult;
  if (Logging()) {
    call.Log(call.Name() + " value=" + std::to_string(value) + " -> " + std::to_string(result));
  }
  return result;
}

int SimLibrary::GetDeviceList(char** paths, int* count) {
  Call call(*this, "ZR_GetDeviceList");
  Reload();
  if (!call.Misbehave()) return 0;
  const LibrarySettings& library = world_.library;
  std::size_t written = std::min(world_.devices.size(), updatelib::DeviceListSlotCount);
  std::string shown;
  for (std::size_t i = 0; i < written; ++i) {
    const std::string& path = world_.devices[i].path;
    if (paths && paths[i]) {
      WriteText(paths[i], updatelib::PathBufferSize, path, library.unterminatedPaths);
    }
    if (Logging()) shown += " path[" + std::to_string(i) + "]=" + Quote(path);
  }
  for (std::size_t i = 0; paths && library.overrun > 0 && i < updatelib::DeviceListSlotCount; ++i) {
    Overrun(paths[i], updatelib::PathBufferSize, library.overrun);
  }
  if (paths && library.overwriteSlotPointers) OverwriteSlotPointers(paths);
  int reported = library.deviceCount.value_or(static_cast<int>(world_.devices.size()));
  if (count) *count = reported;
  if (Logging()) {
    call.Log("ZR_GetDeviceList -> " + std::to_string(library.deviceListResult) + " count=" +
             std::to_string(reported) + shown + (library.unterminatedPaths ? " unterminated" : "") +
             (paths && library.overwriteSlotPointers ? " slot-pointers-overwritten" : ""));
  }
  return library.deviceListResult;
}

int SimLibrary::GetChipType(const char* path, int* chipType) {
  Call call(*this, "ZR_GetChipType");
  if (!call.Misbehave()) return 0;
  const SimDevice* device = Find(call, path);
  if (!device) return 0;
  if (chipType) *chipType = device->chipType;
  int result = device->chipTypeResult.value_or(1);
  if (Logging()) {
    call.Log("ZR_GetChipType path=" + Quote(device->path) + " -> " + std::to_string(result) +
             " chipType=" + std::to_string(device->chipType));
  }
  return result;
}

int SimLibrary::GetRunningCodeMode(const char* path, int* mode) {
  Call call(*this, "ZR_GetRunningCodeMode");
  if (!call.Misbehave()) return 0;
  const SimDevice* device = Find(call, path);
  if (!device) return 0;
  if (mode) *mode = device->runningMode;
  int result = device->runningModeResult.value_or(1);
  if (Logging()) {
    call.Log("ZR_GetRunningCodeMode path=" + Quote(device->path) + " -> " + std::to_string(result) +
             " mode=" + std::to_string(device->runningMode));
  }
  return result;
}

int SimLibrary::GetFWVersion(const char* path, char* version) {
  Call call(*this, "ZR_GetFWVersion");
  if (!call.Misbehave()) return 0;
  const SimDevice* device = Find(call, path);
  if (!device) return 0;
  if (version) {
    WriteText(version, updatelib::VersionBufferSize, device->version,
              world_.library.unterminatedVersion);
  }
  Overrun(version, updatelib::VersionBufferSize, world_.library.overrun);
  int result = device->versionResult.value_or(1);
  if (Logging()) {
    call.Log("ZR_GetFWVersion path=" + Quote(device->path) + " -> " + std::to_string(result) +
             " version=" + Quote(device->version) +
             (world_.library.unterminatedVersion ? " unterminated" : ""));
  }
  return result;
}

int SimLibrary::CheckLoadBinFileMatch(const char* path, int flag) {
  Call call(*this, "ZR_CheckLoadBinFileMatch");
  if (!call.Misbehave()) return 0;
  const SimDevice* device = Find(call, path);
  if (!device) return 0;
  int result = device->imageCheckResult.value_or(device->imageFits ? 1 : 0);
  if (Logging()) {
    call.Log("ZR_CheckLoadBinFileMatch path=" + Quote(device->path) +
             " flag=" + std::to_string(flag) + " -> " + std::to_string(result));
  }
  return result;
}

int SimLibrary::Inquiry(const char* path, unsigned char* buffer, int bufferLength,
                        int* dataLength) {
  Call call(*this, "ZR_Inquiry");
  if (!call.Misbehave()) return 0;
  const SimDevice* device = Find(call, path);
  if (!device) return 0;
  const bool raw = !world_.library.inquiryBytes.empty();
  const std::array<unsigned char, StandardInquiryLength> built = BuildInquiry(*device);
  const unsigned char* data = raw ? world_.library.inquiryBytes.data() : built.data();
  const std::size_t size = raw ? world_.library.inquiryBytes.size() : built.size();
  const std::size_t promised = static_cast<std::size_t>(std::max(bufferLength, 0));
  std::size_t length = std::min(size, promised);
  if (!buffer) length = 0;
  if (length > 0) std::memcpy(buffer, data, length);
  Overrun(buffer, promised, world_.library.overrun);
  if (dataLength) *dataLength = static_cast<int>(length);
  int result = device->inquiryResult.value_or(1);
  if (Logging()) {
    call.Log("ZR_Inquiry path=" + Quote(device->path) +
             " bufferLength=" + std::to_string(bufferLength) + " -> " + std::to_string(result) +
             " dataLength=" + std::to_string(length) +
             (raw ? std::string(" raw")
                  : " vendor=" + Quote(device->vendor) + " product=" + Quote(device->product)));
  }
  return result;
}

int SimLibrary::InitialCustomizedSettingTable() {
  Call call(*this, "ZR_InitialCustomizedSettingTable");
  if (!call.Misbehave()) return 0;
  const int result = world_.library.settingsTableResult;
  if (Logging()) call.Log("ZR_InitialCustomizedSettingTable -> " + std::to_string(result));
  return result;
}

int SimLibrary::Program(const char* path) {
  const std::string name = "ZR_FWUpdateProgrammingNoCustomizedSetting";
  Call call(*this, name);
  if (!call.Misbehave()) return 0;
  const SimDevice* found = Find(call, path);
  if (!found) return 0;
  const SimDevice device = *found;  // the world may be reloaded below
  call.Log(name + " path=" + Quote(device.path) + " begin ms=" + std::to_string(device.programMs));
  if (host_.sleep && device.programMs > 0) host_.sleep(device.programMs);

  int result = device.programResult.value_or(device.programSucceeds ? 1 : 0);
  std::string outcome = "pending=none";
  if (device.programSucceeds) {
    if (!host_.scenarioFile.empty()) {
      // Re-read so that changes made by usbsim during programming are kept; a file broken
      // meanwhile presents no device, as at a device-list call.
      ParseResult parsed = LoadScenarioFile(host_.scenarioFile);
      world_ = parsed.scenario ? std::move(*parsed.scenario) : Scenario{};
      if (!parsed.scenario) Log("error " + parsed.error);
    }
    int index = FindDevice(world_, device.path);
    if (index < 0) {
      result = 0;
      outcome = "device-removed";
    } else {
      world_.devices[static_cast<std::size_t>(index)].pendingVersion = device.programVersion;
      outcome = "pending=" + Quote(device.programVersion);
      if (!host_.scenarioFile.empty()) {
        std::string error = SaveScenarioFile(host_.scenarioFile, world_);
        if (!error.empty()) {
          outcome += " save-failed";
          Log("error " + error);
          if (host_.error) host_.error("ZRFWUpdateDll simulator: " + error);
        }
      }
    }
  }
  call.Log(name + " path=" + Quote(device.path) + " -> " + std::to_string(result) + " " + outcome);
  return result;
}

}  // namespace sim
