// Fuzz target for the device scan: the update library is closed and untrusted, so its answers
// (counts, path slots, chip, mode, version text, results, INQUIRY bytes) come from the fuzzer as
// a world of the simulator, bound in-process, and two scans in a row must each end in a sound
// window, the outcome a plain model predicts from what the library said.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "app/ScanAndShow.h"
#include "device/Scan.h"
#include "platform/Layout.h"
#include "platform/Platform.h"
#include "sim/InProcess.h"
#include "updatelib/Binding.h"
#include "updatelib/EntryPoints.h"

namespace {

using platform::ControlId;
using updatelib::DeviceListSlotCount;
using updatelib::InquiryBufferSize;
using updatelib::PathBufferSize;
using updatelib::VersionBufferSize;

// Everything the library says during one scan, as the fuzz input gives it. A slot or the version
// may end without a terminator.
struct LibraryAnswers {
  bool writesCount = true;
  int count = 0;
  int deviceListResult = 0;
  std::size_t slotsWritten = 0;  // the first n slots; the others keep their empty text
  // A slot gets its bytes and, when shorter than the whole buffer, a terminator after them.
  std::array<std::array<char, PathBufferSize>, DeviceListSlotCount> slots{};
  std::array<std::size_t, DeviceListSlotCount> slotLengths{};

  bool writesChip = true;
  int chip = 0;
  int chipResult = 0;
  bool writesMode = true;
  int mode = 0;
  int modeResult = 0;
  std::size_t versionLength = 0;  // bytes written into the zero-filled buffer, up to all 80
  std::array<char, VersionBufferSize> version{};
  int versionResult = 0;
  int imageResult = 0;
  std::size_t inquiryLength = 0;
  std::array<unsigned char, InquiryBufferSize> inquiry{};
  int inquiryResult = 0;
  // Still read, so the input format stays: the simulator always writes the length it copied,
  // and the scan does not read it.
  bool writesDataLength = true;
  int dataLength = 0;
};

LibraryAnswers DecodeAnswers(fuzz::FuzzInput& input) {
  LibraryAnswers answers;
  const std::uint8_t silent = input.Byte();  // out-values the library leaves unwritten
  answers.writesCount = (silent & 1) == 0;
  answers.writesChip = (silent & 2) == 0;
  answers.writesMode = (silent & 4) == 0;
  answers.writesDataLength = (silent & 8) == 0;

  answers.count = input.Int();
  answers.deviceListResult = input.Int();
  answers.slotsWritten = input.Size(DeviceListSlotCount);
  for (std::size_t i = 0; i < answers.slotsWritten; ++i) {
    std::size_t length = input.Size(PathBufferSize);
    // 0: the bytes follow in the input; anything else: the slot is that byte repeated, so a full
    // unterminated slot costs four input bytes.
    const std::uint8_t fill = input.Byte();
    if (fill == 0) {
      input.Bytes(answers.slots[i].data(), length);
    } else {
      std::memset(answers.slots[i].data(), fill, length);
    }
    answers.slotLengths[i] = length;
  }

  answers.chip = input.Int();
  answers.chipResult = input.Int();
  answers.mode = input.Int();
  answers.modeResult = input.Int();
  answers.versionLength = input.Size(VersionBufferSize);
  input.Bytes(answers.version.data(), answers.versionLength);
  answers.versionResult = input.Int();
  answers.imageResult = input.Int();
  answers.inquiryLength = input.Size(InquiryBufferSize);
  input.Bytes(answers.inquiry.data(), answers.inquiryLength);
  answers.inquiryResult = input.Int();
  answers.dataLength = input.Int();
  return answers;
}

enum class Call { DeviceList, ChipType, RunningMode, FWVersion, ImageCheck, Inquiry };

// The simulator's world that gives these answers. Out-values left unwritten become 0: the
// program presets them to 0, which the promise checks below hold it to, so writing 0 is the same.
// Per-device answers go to the device found at the path the first slot holds; a slot whose bytes
// go on past a NUL gets a device of its own at the text before the NUL. The simulator cuts a full
// 260-byte slot or version to 259 bytes and an X when it has no NUL.
sim::Scenario WorldOf(const LibraryAnswers& answers) {
  sim::Scenario world;
  sim::LibrarySettings& library = world.library;
  library.deviceCount = answers.writesCount ? answers.count : 0;
  library.deviceListResult = answers.deviceListResult;
  for (std::size_t i = 0; i < answers.slotsWritten; ++i) {
    sim::SimDevice device;
    device.path.assign(answers.slots[i].data(), answers.slotLengths[i]);
    world.devices.push_back(std::move(device));
  }
  const std::string first = world.devices.empty() ? std::string() : world.devices[0].path;
  library.unterminatedPaths = first.size() == PathBufferSize && first.find('\0') == first.npos;
  const std::string firstText = first.substr(0, first.find('\0'));
  int index = sim::FindDevice(world, firstText);
  if (index < 0) {
    sim::SimDevice answering;
    answering.path = firstText;
    world.devices.push_back(std::move(answering));
    index = static_cast<int>(world.devices.size()) - 1;
  }
  sim::SimDevice& device = world.devices[static_cast<std::size_t>(index)];
  device.chipType = answers.writesChip ? answers.chip : 0;
  device.chipTypeResult = answers.chipResult;
  device.runningMode = answers.writesMode ? answers.mode : 0;
  device.runningModeResult = answers.modeResult;
  device.version.assign(answers.version.data(), answers.versionLength);
  library.unterminatedVersion =
      answers.versionLength == VersionBufferSize && device.version.find('\0') == std::string::npos;
  device.versionResult = answers.versionResult;
  device.imageCheckResult = answers.imageResult;
  // Raw bytes; one NUL written into the zero-filled buffer is the same as none.
  library.inquiryBytes.assign(
      answers.inquiry.begin(),
      answers.inquiry.begin() +
          static_cast<std::ptrdiff_t>(std::max<std::size_t>(answers.inquiryLength, 1)));
  device.inquiryResult = answers.inquiryResult;
  return world;
}

// What the library said during one scan, as it reached the program: results, out-values and the
// buffers as the library left them. The model predicts the scan's outcome from these.
struct Said {
  int count = 0;
  std::array<char, PathBufferSize> firstSlot{};
  int chip = 0;
  int mode = 0;
  int versionResult = 0;
  std::array<char, VersionBufferSize> version{};
  int imageResult = 0;
  int inquiryResult = 0;
  std::array<unsigned char, InquiryBufferSize> inquiry{};
};

// The scan in progress: what the library said and the calls in its call log.
struct ScanRecord {
  Said said;
  std::vector<Call> calls;
};
ScanRecord Record;

bool FirstSlotTerminated(const Said& said) {
  return std::memchr(said.firstSlot.data(), '\0', PathBufferSize) != nullptr;
}

std::string FirstSlotText(const Said& said) { return said.firstSlot.data(); }

// Every per-device call must get the working path: a terminated copy of the first slot's text.
void CheckDevicePath(const char* path) {
  FUZZ_CHECK(path != nullptr);
  FUZZ_CHECK(strnlen(path, PathBufferSize) < PathBufferSize);
  FUZZ_CHECK(FirstSlotTerminated(Record.said));
  FUZZ_CHECK(path == FirstSlotText(Record.said));
}

// The simulator's entry points, reached through the promise checks below.
updatelib::EntryPointTable Simulated;

// The program's promises on every call (empty and distinct slots, out-values preset to 0,
// zero-filled buffers, the working path), checked before the simulator answers; what it answered
// is kept for the model.
int ZR_API CheckedGetDeviceList(char** paths, int* count) {
  FUZZ_CHECK(paths != nullptr && count != nullptr);
  FUZZ_CHECK(*count == 0);
  for (std::size_t i = 0; i < DeviceListSlotCount; ++i) {
    FUZZ_CHECK(paths[i] != nullptr);
    FUZZ_CHECK(paths[i][0] == '\0');
    for (std::size_t j = 0; j < i; ++j) FUZZ_CHECK(paths[i] != paths[j]);
  }
  char* const first = paths[0];
  const int result = Simulated.ZR_GetDeviceList(paths, count);
  std::memcpy(Record.said.firstSlot.data(), first, PathBufferSize);
  Record.said.count = *count;
  return result;
}

int ZR_API CheckedGetChipType(char* path, int* chipType) {
  CheckDevicePath(path);
  FUZZ_CHECK(*chipType == 0);
  const int result = Simulated.ZR_GetChipType(path, chipType);
  Record.said.chip = *chipType;
  return result;
}

int ZR_API CheckedGetRunningCodeMode(char* path, int* mode) {
  CheckDevicePath(path);
  FUZZ_CHECK(*mode == 0);
  const int result = Simulated.ZR_GetRunningCodeMode(path, mode);
  Record.said.mode = *mode;
  return result;
}

int ZR_API CheckedGetFWVersion(char* path, char* version) {
  CheckDevicePath(path);
  for (std::size_t i = 0; i < VersionBufferSize; ++i) FUZZ_CHECK(version[i] == '\0');
  Record.said.versionResult = Simulated.ZR_GetFWVersion(path, version);
  std::memcpy(Record.said.version.data(), version, VersionBufferSize);
  return Record.said.versionResult;
}

int ZR_API CheckedCheckLoadBinFileMatch(char* path, int flag) {
  CheckDevicePath(path);
  FUZZ_CHECK(flag == 0);
  Record.said.imageResult = Simulated.ZR_CheckLoadBinFileMatch(path, flag);
  return Record.said.imageResult;
}

int ZR_API CheckedInquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  CheckDevicePath(path);
  FUZZ_CHECK(bufferLength == static_cast<int>(InquiryBufferSize));
  FUZZ_CHECK(*dataLength == 0);
  for (std::size_t i = 0; i < InquiryBufferSize; ++i) FUZZ_CHECK(buffer[i] == 0);
  Record.said.inquiryResult = Simulated.ZR_Inquiry(path, buffer, bufferLength, dataLength);
  std::memcpy(Record.said.inquiry.data(), buffer, InquiryBufferSize);
  return Record.said.inquiryResult;
}

// The setters belong to binding and the last two to the update run: never part of a scan.
int ZR_API SetterOutsideScan(int) {
  FUZZ_CHECK(!"a setter was called during a scan");
  return 0;
}
int ZR_API SettingsTableOutsideUpdate() {
  FUZZ_CHECK(!"the settings table was initialised during a scan");
  return 0;
}
int ZR_API ProgrammingOutsideUpdate(char*) {
  FUZZ_CHECK(!"a device was programmed during a scan");
  return 0;
}

// A call-log line names its entry point first.
void RecordCall(const std::string& line) {
  constexpr std::pair<std::string_view, Call> Names[] = {
      {"ZR_GetDeviceList ", Call::DeviceList},         {"ZR_GetChipType ", Call::ChipType},
      {"ZR_GetRunningCodeMode ", Call::RunningMode},   {"ZR_GetFWVersion ", Call::FWVersion},
      {"ZR_CheckLoadBinFileMatch ", Call::ImageCheck}, {"ZR_Inquiry ", Call::Inquiry},
  };
  for (const auto& [name, call] : Names) {
    if (line.rfind(name, 0) == 0) return Record.calls.push_back(call);
  }
  FUZZ_CHECK(!"the simulator logged a line of no scan call");
}

// The simulator bound in this process; its call log is the record of the calls.
sim::InProcessLibrary& Binding() {
  static sim::InProcessLibrary binding(sim::Scenario{}, [] {
    sim::SimHost host;
    host.log = RecordCall;
    return host;
  }());
  return binding;
}

// The program's table of the simulator's entry points, with the checks in front of the calls a
// scan makes and a stop in front of every other.
updatelib::EntryPointTable CheckedTable() {
  updatelib::LoadUpdateLibrary(Binding(), Simulated);
  FUZZ_CHECK(Simulated.ZR_GetDeviceList != nullptr);
  updatelib::EntryPointTable table;
  table.ZR_GetDeviceList = CheckedGetDeviceList;
  table.ZR_GetChipType = CheckedGetChipType;
  table.ZR_GetRunningCodeMode = CheckedGetRunningCodeMode;
  table.ZR_GetFWVersion = CheckedGetFWVersion;
  table.ZR_CheckLoadBinFileMatch = CheckedCheckLoadBinFileMatch;
  table.ZR_Inquiry = CheckedInquiry;
  table.ZR_SetKV7300BindingCheck = SetterOutsideScan;
  table.ZR_SetZRKeepLast4KFileCopyNVRamchk = SetterOutsideScan;
  table.ZR_SetLoadEndUserFWFromResourceFlag = SetterOutsideScan;
  table.ZR_SetKV7300FWModuleForEndUserFWResource = SetterOutsideScan;
  table.ZR_InitialCustomizedSettingTable = SettingsTableOutsideUpdate;
  table.ZR_FWUpdateProgrammingNoCustomizedSetting = ProgrammingOutsideUpdate;
  return table;
}

// The window as the scan leaves it. Every control starts shown, enabled and with a stale text, so
// the scan has to set whatever it relies on.
class RecordingControls final : public platform::Controls {
 public:
  struct Control {
    std::string text = "stale";
    bool visible = true;
    bool enabled = true;
  };

  const Control& operator[](ControlId id) const { return controls_[Index(id)]; }

  void SetText(ControlId id, std::string_view text) override { controls_[Index(id)].text = text; }
  void SetVisible(ControlId id, bool visible) override { controls_[Index(id)].visible = visible; }
  void SetEnabled(ControlId id, bool enabled) override { controls_[Index(id)].enabled = enabled; }
  void SetEvents(platform::FormEvents*) override {}
  void SetCaption(std::string_view) override { FUZZ_CHECK(!"the scan set the caption"); }
  void Close() override { FUZZ_CHECK(!"the scan closed the window"); }

 private:
  static std::size_t Index(ControlId id) {
    const auto index = static_cast<std::size_t>(id);
    FUZZ_CHECK(index < platform::ControlCount);
    return index;
  }
  std::array<Control, platform::ControlCount> controls_{};
};

constexpr std::string_view NotFound1 = "No compatible USB device were found.";
constexpr std::string_view NotFound2 = "Please plug a compatible USB device.";
constexpr std::string_view KnownLines[] = {
    "",
    NotFound1,
    NotFound2,
    "Multiple USB drives are attached.",
    "Please disconnect all devices.",
    "except the one that needs to be updated.",
    "Unsupported Chip ID!",
    "NOT support internal code!",
    "Get F/W version failed!",
    "F/W bin file is not matched with current device!",
    "Get device information failed!",
    "Firmware: Up to date",
    "Firmware: Update required!",
};

bool IsKnownLine(std::string_view text) {
  return std::find(std::begin(KnownLines), std::end(KnownLines), text) != std::end(KnownLines);
}

// What a scan must end with after the library said `said`, worked out the plain way; `info` is
// the identification text before the scan and is updated as the scan should update it.
struct Expectation {
  std::array<std::string_view, 3> lines;
  bool showsIdentity = false;  // line 2 is the identification rather than lines[1]
  bool offersUpdate = false;
  std::vector<Call> calls;
  std::string path;
};

Expectation Expect(const Said& said, std::string& info) {
  Expectation expected;
  expected.calls.push_back(Call::DeviceList);
  const int count = said.count;
  if (count > 1) {
    expected.lines = {"Multiple USB drives are attached.", "Please disconnect all devices.",
                      "except the one that needs to be updated."};
    return expected;
  }
  // A negative count or a first slot with no terminator is no usable device.
  if (count <= 0 || !FirstSlotTerminated(said)) {
    expected.lines = {NotFound1, NotFound2, ""};
    return expected;
  }
  expected.path = FirstSlotText(said);
  auto checkFailed = [&](std::string_view line3) {
    expected.lines = {NotFound1, NotFound2, line3};
    return expected;
  };
  expected.calls.push_back(Call::ChipType);
  if (said.chip != 11 && said.chip != 13) return checkFailed("Unsupported Chip ID!");
  expected.calls.push_back(Call::RunningMode);
  if (said.mode != 2) return checkFailed("NOT support internal code!");
  expected.calls.push_back(Call::FWVersion);
  if (said.versionResult == 0) return checkFailed("Get F/W version failed!");
  expected.calls.push_back(Call::ImageCheck);
  if (said.imageResult == 0) {
    return checkFailed("F/W bin file is not matched with current device!");
  }
  // The rest of the zero-filled buffer stays zero, so a shorter text differs at its end.
  const bool upToDate =
      std::string_view(said.version.data(), device::TargetFirmwareVersion.size()) ==
      device::TargetFirmwareVersion;
  expected.calls.push_back(Call::Inquiry);
  if (said.inquiryResult == 0) return checkFailed("Get device information failed!");

  // Bytes 8-31, up to the first NUL, without leading and trailing bytes below 33.
  std::string text(reinterpret_cast<const char*>(said.inquiry.data()) + 8, 24);
  text.resize(strnlen(text.c_str(), text.size()));
  auto blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!text.empty() && blank(text.front())) text.erase(text.begin());
  while (!text.empty() && blank(text.back())) text.pop_back();
  info = text;
  expected.showsIdentity = true;
  expected.offersUpdate = !upToDate;
  expected.lines = {"", {}, upToDate ? "Firmware: Up to date" : "Firmware: Update required!"};
  return expected;
}

void CheckWindow(const RecordingControls& window, const app::SharedState& state,
                 const Expectation& expected, const std::string& info) {
  const auto& update = window[ControlId::UpdateBtn];
  const auto& exit = window[ControlId::ExitBtn];
  // Exactly one button, and that one both visible and enabled.
  FUZZ_CHECK(update.visible == update.enabled);
  FUZZ_CHECK(exit.visible == exit.enabled);
  FUZZ_CHECK(update.visible != exit.visible);
  FUZZ_CHECK(update.visible == expected.offersUpdate);
  FUZZ_CHECK(window[ControlId::RescanStatusPanel].visible);
  FUZZ_CHECK(!window[ControlId::UpdateStatusPanel].visible);

  // The identification: terminated inside its 25 bytes, trimmed, and what the model says.
  const auto& infoText = state.DeviceInfoText;
  FUZZ_CHECK(std::memchr(infoText.data(), '\0', infoText.size()) != nullptr);
  const std::string_view shown(infoText.data(), strnlen(infoText.data(), infoText.size()));
  FUZZ_CHECK(shown.size() <= 24);
  if (!shown.empty()) {
    FUZZ_CHECK(static_cast<unsigned char>(shown.front()) >= 33);
    FUZZ_CHECK(static_cast<unsigned char>(shown.back()) >= 33);
  }
  FUZZ_CHECK(shown == info);

  const std::string& line1 = window[ControlId::RescanStatus1Panel].text;
  const std::string& line2 = window[ControlId::RescanStatus2Panel].text;
  const std::string& line3 = window[ControlId::RescanStatus3Panel].text;
  FUZZ_CHECK(IsKnownLine(line1));
  FUZZ_CHECK(IsKnownLine(line2) || line2 == shown);
  FUZZ_CHECK(IsKnownLine(line3));
  FUZZ_CHECK(line1 == expected.lines[0]);
  FUZZ_CHECK(line2 == (expected.showsIdentity ? shown : expected.lines[1]));
  FUZZ_CHECK(line3 == expected.lines[2]);

  // The selection: the offered device's path, zero-padded, or nothing at all.
  const auto& selected = state.SelectedDevicePath;
  if (expected.offersUpdate) {
    FUZZ_CHECK(state.SelectedDeviceCount == 1);
    FUZZ_CHECK(std::memchr(selected.data(), '\0', selected.size()) != nullptr);
    FUZZ_CHECK(std::string_view(selected.data()) == expected.path);
  } else {
    FUZZ_CHECK(state.SelectedDeviceCount == 0);
  }
  const std::size_t used = expected.offersUpdate ? expected.path.size() : 0;
  for (std::size_t i = used; i < selected.size(); ++i) FUZZ_CHECK(selected[i] == '\0');

  FUZZ_CHECK(Record.calls == expected.calls);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const bool updateInProgress = input.Bool();  // the scan must neither look at it nor change it
  const LibraryAnswers first = DecodeAnswers(input);
  // A second world when the input goes on; otherwise the same world scanned again.
  const LibraryAnswers second = input.Exhausted() ? first : DecodeAnswers(input);

  platform::UnguardedCalls direct;
  updatelib::LibraryGateway library(CheckedTable(), direct);
  app::SharedState state;
  state.UpdateInProgress = updateInProgress;
  RecordingControls window;
  std::string info;  // the identification as the model tracks it; starts empty

  for (const LibraryAnswers* answers : {&first, &second}) {
    Binding().World() = WorldOf(*answers);
    Record = {};
    app::ScanAndShow(library, state, window);
    const Expectation expected = Expect(Record.said, info);
    CheckWindow(window, state, expected, info);
    FUZZ_CHECK(state.UpdateInProgress == updateInProgress);
  }
  return 0;
}
