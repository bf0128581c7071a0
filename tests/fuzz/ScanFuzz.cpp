// Fuzz target for the device scan: the update library is closed and untrusted, so its answers
// (counts, path slots, chip, mode, version text, results, INQUIRY bytes) come from the fuzzer,
// and two scans in a row must each end in a sound window, the outcome a plain model predicts.
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
#include "updatelib/Binding.h"
#include "updatelib/EntryPoints.h"

namespace {

using platform::ControlId;
using updatelib::DeviceListSlotCount;
using updatelib::InquiryBufferSize;
using updatelib::PathBufferSize;
using updatelib::VersionBufferSize;

// Everything the library says during one scan. Texts are written as given: a slot or the version
// may end without a terminator, but nothing is ever written past the caller's buffer.
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

// The fake library's script and what it saw; the entry points are plain functions, as the real
// library's are, so they reach it through this one global.
struct FakeLibraryState {
  const LibraryAnswers* answers = nullptr;
  std::vector<Call> calls;
};
FakeLibraryState Fake;

// The text in slot 0 as the library left it, cut at its terminator; only called when it has one.
std::string FirstSlotText(const LibraryAnswers& answers) {
  if (answers.slotsWritten == 0) return {};
  const std::array<char, PathBufferSize>& slot = answers.slots[0];
  return std::string(slot.data(),
                     strnlen(slot.data(), std::min(answers.slotLengths[0], slot.size())));
}

bool FirstSlotTerminated(const LibraryAnswers& answers) {
  if (answers.slotsWritten == 0 || answers.slotLengths[0] < PathBufferSize) return true;
  return std::memchr(answers.slots[0].data(), '\0', PathBufferSize) != nullptr;
}

// Every per-device call must get the working path: a terminated copy of the first slot's text.
void CheckDevicePath(const char* path) {
  FUZZ_CHECK(path != nullptr);
  FUZZ_CHECK(strnlen(path, PathBufferSize) < PathBufferSize);
  FUZZ_CHECK(FirstSlotTerminated(*Fake.answers));
  FUZZ_CHECK(path == FirstSlotText(*Fake.answers));
}

int ZR_API ZR_GetDeviceList(char** paths, int* count) {
  Fake.calls.push_back(Call::DeviceList);
  const LibraryAnswers& answers = *Fake.answers;
  FUZZ_CHECK(paths != nullptr && count != nullptr);
  FUZZ_CHECK(*count == 0);
  for (std::size_t i = 0; i < DeviceListSlotCount; ++i) {
    FUZZ_CHECK(paths[i] != nullptr);
    FUZZ_CHECK(paths[i][0] == '\0');
    for (std::size_t j = 0; j < i; ++j) FUZZ_CHECK(paths[i] != paths[j]);
  }
  for (std::size_t i = 0; i < answers.slotsWritten; ++i) {
    std::memcpy(paths[i], answers.slots[i].data(), answers.slotLengths[i]);
    if (answers.slotLengths[i] < PathBufferSize) paths[i][answers.slotLengths[i]] = '\0';
  }
  if (answers.writesCount) *count = answers.count;
  return answers.deviceListResult;
}

int ZR_API ZR_GetChipType(char* path, int* chipType) {
  Fake.calls.push_back(Call::ChipType);
  CheckDevicePath(path);
  if (Fake.answers->writesChip) *chipType = Fake.answers->chip;
  return Fake.answers->chipResult;
}

int ZR_API ZR_GetRunningCodeMode(char* path, int* mode) {
  Fake.calls.push_back(Call::RunningMode);
  CheckDevicePath(path);
  FUZZ_CHECK(*mode == 0);
  if (Fake.answers->writesMode) *mode = Fake.answers->mode;
  return Fake.answers->modeResult;
}

int ZR_API ZR_GetFWVersion(char* path, char* version) {
  Fake.calls.push_back(Call::FWVersion);
  CheckDevicePath(path);
  for (std::size_t i = 0; i < VersionBufferSize; ++i) FUZZ_CHECK(version[i] == '\0');
  std::memcpy(version, Fake.answers->version.data(), Fake.answers->versionLength);
  return Fake.answers->versionResult;
}

int ZR_API ZR_CheckLoadBinFileMatch(char* path, int flag) {
  Fake.calls.push_back(Call::ImageCheck);
  CheckDevicePath(path);
  FUZZ_CHECK(flag == 0);
  return Fake.answers->imageResult;
}

int ZR_API ZR_Inquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  Fake.calls.push_back(Call::Inquiry);
  CheckDevicePath(path);
  FUZZ_CHECK(bufferLength == static_cast<int>(InquiryBufferSize));
  FUZZ_CHECK(*dataLength == 0);
  for (std::size_t i = 0; i < InquiryBufferSize; ++i) FUZZ_CHECK(buffer[i] == 0);
  std::memcpy(buffer, Fake.answers->inquiry.data(), Fake.answers->inquiryLength);
  if (Fake.answers->writesDataLength) *dataLength = Fake.answers->dataLength;
  return Fake.answers->inquiryResult;
}

// The setters belong to binding and the last two to the update run: never part of a scan.
int ZR_API SetterOutsideScan(int) {
  FUZZ_CHECK(!"a setter was called during a scan");
  return 0;
}
int ZR_API ZR_InitialCustomizedSettingTable() {
  FUZZ_CHECK(!"the settings table was initialised during a scan");
  return 0;
}
int ZR_API ZR_FWUpdateProgrammingNoCustomizedSetting(char*) {
  FUZZ_CHECK(!"a device was programmed during a scan");
  return 0;
}

// FakeTable() finds every fake by its entry point's name; the four setters share one.
constexpr updatelib::ZR_SetKV7300BindingCheck_Fn ZR_SetKV7300BindingCheck = SetterOutsideScan;
constexpr updatelib::ZR_SetZRKeepLast4KFileCopyNVRamchk_Fn ZR_SetZRKeepLast4KFileCopyNVRamchk =
    SetterOutsideScan;
constexpr updatelib::ZR_SetLoadEndUserFWFromResourceFlag_Fn ZR_SetLoadEndUserFWFromResourceFlag =
    SetterOutsideScan;
constexpr updatelib::ZR_SetKV7300FWModuleForEndUserFWResource_Fn
    ZR_SetKV7300FWModuleForEndUserFWResource = SetterOutsideScan;

updatelib::EntryPointTable FakeTable() {
  updatelib::EntryPointTable table;
#define FUZZ_BIND(name, ret, params) table.name = name;
  FLASHWRIGHT_CALLED_ENTRY_POINTS(FUZZ_BIND)
#undef FUZZ_BIND
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

// What a scan over `answers` must end with, worked out the plain way; `info` is the
// identification text before the scan and is updated as the scan should update it.
struct Expectation {
  std::array<std::string_view, 3> lines;
  bool showsIdentity = false;  // line 2 is the identification rather than lines[1]
  bool offersUpdate = false;
  std::vector<Call> calls;
  std::string path;
};

Expectation Expect(const LibraryAnswers& answers, std::string& info) {
  Expectation expected;
  expected.calls.push_back(Call::DeviceList);
  const int count = answers.writesCount ? answers.count : 0;
  if (count > 1) {
    expected.lines = {"Multiple USB drives are attached.", "Please disconnect all devices.",
                      "except the one that needs to be updated."};
    return expected;
  }
  // A negative count or a first slot with no terminator is no usable device.
  if (count <= 0 || !FirstSlotTerminated(answers)) {
    expected.lines = {NotFound1, NotFound2, ""};
    return expected;
  }
  expected.path = FirstSlotText(answers);
  auto checkFailed = [&](std::string_view line3) {
    expected.lines = {NotFound1, NotFound2, line3};
    return expected;
  };
  expected.calls.push_back(Call::ChipType);
  const int chip = answers.writesChip ? answers.chip : 0;
  if (chip != 11 && chip != 13) return checkFailed("Unsupported Chip ID!");
  expected.calls.push_back(Call::RunningMode);
  const int mode = answers.writesMode ? answers.mode : 0;
  if (mode != 2) return checkFailed("NOT support internal code!");
  expected.calls.push_back(Call::FWVersion);
  if (answers.versionResult == 0) return checkFailed("Get F/W version failed!");
  expected.calls.push_back(Call::ImageCheck);
  if (answers.imageResult == 0) {
    return checkFailed("F/W bin file is not matched with current device!");
  }
  // The rest of the zero-filled buffer stays zero, so a shorter text differs at its end.
  const bool upToDate =
      std::string_view(answers.version.data(), device::TargetFirmwareVersion.size()) ==
      device::TargetFirmwareVersion;
  expected.calls.push_back(Call::Inquiry);
  if (answers.inquiryResult == 0) return checkFailed("Get device information failed!");

  // Bytes 8-31, up to the first NUL, without leading and trailing bytes below 33.
  std::string text(reinterpret_cast<const char*>(answers.inquiry.data()) + 8, 24);
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

  FUZZ_CHECK(Fake.calls == expected.calls);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const bool updateInProgress = input.Bool();  // the scan must neither look at it nor change it
  const LibraryAnswers first = DecodeAnswers(input);
  // A second world when the input goes on; otherwise the same world scanned again.
  const LibraryAnswers second = input.Exhausted() ? first : DecodeAnswers(input);

  platform::UnguardedCalls direct;
  updatelib::LibraryGateway library(FakeTable(), direct);
  app::SharedState state;
  state.UpdateInProgress = updateInProgress;
  RecordingControls window;
  std::string info;  // the identification as the model tracks it; starts empty

  for (const LibraryAnswers* answers : {&first, &second}) {
    Fake.answers = answers;
    Fake.calls.clear();
    const Expectation expected = Expect(*answers, info);
    app::ScanAndShow(library, state, window);
    CheckWindow(window, state, expected, info);
    FUZZ_CHECK(state.UpdateInProgress == updateInProgress);
  }
  Fake.answers = nullptr;
  return 0;
}
