// Replay of a recording, its divergences, and a scenario made from it.
#include "sim/Replay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "recording/CallFields.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

using recorder::Arguments;
using recorder::Field;
using recorder::RecordedCall;
namespace calls = recorder::calls;
namespace keys = recorder::keys;

constexpr std::uint32_t AccessViolation = 0xC0000005u;
constexpr std::int64_t StallThresholdMicros = 100000;
constexpr std::string_view ProgrammingName = "ZR_FWUpdateProgrammingNoCustomizedSetting";

std::string Describe(std::string_view name, const std::vector<Field>& in) {
  std::string text(name);
  for (const Field& field : in) text += " " + field.key + "=" + field.value;
  return text;
}

// Writes recorded text bytes into a buffer of `size`: NUL-terminated when shorter.
void WriteBytes(char* buffer, std::size_t size, const std::optional<std::string>& bytes) {
  if (!buffer || !bytes) return;
  const std::size_t length = std::min(bytes->size(), size);
  std::memcpy(buffer, bytes->data(), length);
  if (length < size) buffer[length] = '\0';
}

void WriteInt(int* target, const std::vector<Field>& out, recorder::IntKey key) {
  const std::optional<int> value = recorder::Read(out, key);
  if (target && value) *target = *value;
}

int MillisOf(std::int64_t micros) {
  return static_cast<int>(std::min<std::int64_t>((micros + 500) / 1000, MaxMisbehaviourMs));
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

Replayer::Replayer(SimHost host, recorder::Recording recording)
    : host_(std::move(host)), recording_(std::move(recording)) {}

void Replayer::Log(const std::string& line) const {
  if (host_.log) host_.log(line);
}

std::string Replayer::EndLine() const {
  return "replay end answered=" + std::to_string(next_) + " of " +
         std::to_string(recording_.calls.size()) + " divergences=" + std::to_string(divergences_);
}

const RecordedCall* Replayer::Next(std::string_view name, const std::vector<Field>& in) {
  if (next_ < recording_.calls.size()) {
    const RecordedCall& recorded = recording_.calls[next_];
    if (recorded.name == name && recorded.in == in) {
      ++next_;
      Log("replay " + recorder::FormatCall(recorded));
      return &recorded;
    }
  }
  ++divergences_;
  Log("divergence asked: " + Describe(name, in) + " recorded: " +
      (next_ < recording_.calls.size() ? recorder::FormatCall(recording_.calls[next_])
                                       : std::string("the recording has ended")));
  return nullptr;
}

bool Replayer::Behave(const RecordedCall& call) {
  const int ms = MillisOf(call.micros);
  if (call.messages > 0) {
    if (host_.pump) host_.pump(ms);
  } else if (ms > 0 && host_.sleep) {
    host_.sleep(ms);
  }
  if (call.result) return true;
  const std::uint32_t code = call.fault ? call.fault->code : AccessViolation;
  if (host_.raise) {
    host_.raise(code);
  } else if (host_.crash) {
    host_.crash();
  }
  return false;
}

int Replayer::Setter(std::string_view name, int value) {
  const RecordedCall* call = Next(name, Arguments<calls::Setter>(value));
  if (!call || !Behave(*call)) return 0;
  return *call->result;
}

int Replayer::GetDeviceList(char** paths, int* count) {
  const RecordedCall* call = Next("ZR_GetDeviceList", Arguments<calls::ZR_GetDeviceList>());
  if (!call || !Behave(*call)) return 0;
  WriteInt(count, call->out, keys::Count);
  if (paths) {
    for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
      WriteBytes(paths[i], updatelib::PathBufferSize,
                 recorder::Read(call->out, keys::ListedPaths, i));
    }
    if (recorder::Read(call->out, keys::SlotsOverwritten)) {
      // As the recorded library did; its own values were the process's, so the simulator's.
      OverwriteSlotPointers(paths);
    }
  }
  return *call->result;
}

int Replayer::GetChipType(const char* path, int* chipType) {
  const RecordedCall* call = Next("ZR_GetChipType", Arguments<calls::ZR_GetChipType>(path));
  if (!call || !Behave(*call)) return 0;
  WriteInt(chipType, call->out, keys::ChipType);
  return *call->result;
}

int Replayer::GetRunningCodeMode(const char* path, int* mode) {
  const RecordedCall* call =
      Next("ZR_GetRunningCodeMode", Arguments<calls::ZR_GetRunningCodeMode>(path));
  if (!call || !Behave(*call)) return 0;
  WriteInt(mode, call->out, keys::Mode);
  return *call->result;
}

int Replayer::GetFWVersion(const char* path, char* version) {
  const RecordedCall* call = Next("ZR_GetFWVersion", Arguments<calls::ZR_GetFWVersion>(path));
  if (!call || !Behave(*call)) return 0;
  WriteBytes(version, updatelib::VersionBufferSize, recorder::Read(call->out, keys::Version));
  return *call->result;
}

int Replayer::CheckLoadBinFileMatch(const char* path, int flag) {
  const RecordedCall* call =
      Next("ZR_CheckLoadBinFileMatch", Arguments<calls::ZR_CheckLoadBinFileMatch>(path, flag));
  if (!call || !Behave(*call)) return 0;
  return *call->result;
}

int Replayer::Inquiry(const char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  const RecordedCall* call = Next("ZR_Inquiry", Arguments<calls::ZR_Inquiry>(path, bufferLength));
  if (!call || !Behave(*call)) return 0;
  WriteInt(dataLength, call->out, keys::DataLength);
  const std::optional<std::string> data = recorder::Read(call->out, keys::Data);
  if (buffer && data) {
    std::copy_n(data->begin(),
                std::min(data->size(), static_cast<std::size_t>(std::max(bufferLength, 0))),
                buffer);
  }
  return *call->result;
}

int Replayer::InitialCustomizedSettingTable() {
  const RecordedCall* call = Next("ZR_InitialCustomizedSettingTable",
                                  Arguments<calls::ZR_InitialCustomizedSettingTable>());
  if (!call || !Behave(*call)) return 0;
  return *call->result;
}

int Replayer::Program(const char* path) {
  const RecordedCall* call =
      Next(ProgrammingName, Arguments<calls::ZR_FWUpdateProgrammingNoCustomizedSetting>(path));
  if (!call || !Behave(*call)) return 0;
  return *call->result;
}

std::vector<std::string> ReplayDivergences(const recorder::Recording& recording,
                                           const std::vector<std::string>& logLines) {
  std::vector<std::string> divergences;
  std::size_t answered = 0;
  for (const std::string& line : logLines) {
    if (line.rfind("divergence ", 0) == 0) divergences.push_back(line);
    if (line.rfind("replay ", 0) == 0 && line.rfind("replay end ", 0) != 0) ++answered;
  }
  if (answered < recording.calls.size()) {
    divergences.push_back(
        "divergence unasked: " + std::to_string(recording.calls.size() - answered) +
        " recorded call(s) from " + recorder::FormatCall(recording.calls[answered]));
  }
  return divergences;
}

Scenario ScenarioFromRecording(const recorder::Recording& recording) {
  Scenario world;
  // The last call of each entry point about each path (by the path's hex), and the last list.
  std::map<std::pair<std::string, std::string>, const RecordedCall*> last;
  const RecordedCall* lastList = nullptr;
  std::map<std::string, int> pumpMs, stallMs;
  std::vector<std::string>& crashes = world.library.crash;
  for (const RecordedCall& call : recording.calls) {
    const std::string* path = recorder::Read(call.in, keys::Path);
    last[{call.name, path ? *path : std::string()}] = &call;
    if (call.name == "ZR_GetDeviceList" && call.result) lastList = &call;
    const int ms = MillisOf(call.micros);
    if (!call.result) {
      if (std::find(crashes.begin(), crashes.end(), call.name) == crashes.end()) {
        crashes.push_back(call.name);
      }
    } else if (call.messages > 0) {
      pumpMs[call.name] = std::max(pumpMs[call.name], ms);
    } else if (call.micros >= StallThresholdMicros && call.name != ProgrammingName) {
      stallMs[call.name] = std::max(stallMs[call.name], ms);
    }
    if (call.result && call.name.rfind("ZR_Set", 0) == 0) world.library.setterResult = *call.result;
    if (call.result && call.name == "ZR_InitialCustomizedSettingTable") {
      world.library.settingsTableResult = *call.result;
    }
  }
  for (const auto& [name, ms] : stallMs) world.library.stall.push_back({name, ms});
  for (const auto& [name, ms] : pumpMs) world.library.pump.push_back({name, ms});
  if (!lastList) return world;

  world.library.deviceListResult = *lastList->result;
  for (std::size_t i = 0; i < updatelib::DeviceListSlotCount; ++i) {
    const std::optional<std::string> bytes = recorder::Read(lastList->out, keys::ListedPaths, i);
    if (!bytes || world.devices.size() >= MaxDevices) continue;
    SimDevice device;
    device.path = bytes->substr(0, MaxPathLength);
    if (device.path.empty() || FindDevice(world, device.path) >= 0) continue;
    const std::string pathHex = recorder::Write(keys::Path, device.path.c_str()).value;
    auto find = [&](std::string_view name) -> const RecordedCall* {
      auto found = last.find({std::string(name), pathHex});
      return found == last.end() || !found->second->result ? nullptr : found->second;
    };
    if (const RecordedCall* call = find("ZR_GetChipType")) {
      device.chipTypeResult = *call->result;
      device.chipType = recorder::Read(call->out, keys::ChipType).value_or(device.chipType);
    }
    if (const RecordedCall* call = find("ZR_GetRunningCodeMode")) {
      device.runningModeResult = *call->result;
      device.runningMode = recorder::Read(call->out, keys::Mode).value_or(device.runningMode);
    }
    if (const RecordedCall* call = find("ZR_GetFWVersion")) {
      device.versionResult = *call->result;
      if (auto version = recorder::Read(call->out, keys::Version)) {
        device.version = version->substr(0, MaxVersionLength);
      }
    }
    if (const RecordedCall* call = find("ZR_CheckLoadBinFileMatch")) {
      device.imageFits = *call->result == 1;
      if (*call->result != 0 && *call->result != 1) device.imageCheckResult = *call->result;
    }
    if (const RecordedCall* call = find("ZR_Inquiry")) {
      device.inquiryResult = *call->result;
      const std::string data = recorder::Read(call->out, keys::Data).value_or("");
      if (data.size() == StandardInquiryLength && data.compare(32, 4, "0001") == 0 &&
          data.find('\0', 8) >= 32) {
        device.vendor = Trimmed(data.substr(8, MaxVendorLength));
        device.product = Trimmed(data.substr(16, MaxProductLength));
      } else {
        // Not data the simulator builds: the library answers with these bytes for every device.
        world.library.inquiryBytes.assign(
            data.begin(),
            data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), MaxInquiryBytes)));
      }
    }
    if (const RecordedCall* call = find(ProgrammingName)) {
      device.programSucceeds = *call->result != 0;
      if (*call->result != 0 && *call->result != 1) device.programResult = *call->result;
      device.programMs = std::min(MillisOf(call->micros), MaxProgramMs);
    }
    world.devices.push_back(std::move(device));
  }
  if (const std::optional<int> count = recorder::Read(lastList->out, keys::Count);
      count && *count != static_cast<int>(world.devices.size())) {
    world.library.deviceCount = *count;
  }
  return world;
}

}  // namespace sim
