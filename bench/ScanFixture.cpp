// Instant fake entry points of the update library for the scan benchmarks; see ScanFixture.h.
#include "bench/ScanFixture.h"

#include <cstring>

namespace bench {
namespace {

World current = World::UpdateRequired;

constexpr char FirstPath[] =
    "\\\\?\\usb#vid_0001&pid_0002#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr char SecondPath[] =
    "\\\\?\\usb#vid_0001&pid_0002#0002#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// 36 bytes of INQUIRY data: the header, then vendor, product and revision as one text.
constexpr unsigned char InquiryHeader[8] = {0x00, 0x80, 0x06, 0x02, 0x1F, 0x00, 0x00, 0x00};
constexpr char InquiryText[] =
    "BENCHVEN"
    "Bridge Product  "
    "0001";
static_assert(sizeof InquiryHeader + sizeof InquiryText - 1 == 36);

int ZR_API SetValue(int) { return 1; }
// FakeLibrary() finds every fake by its entry point's name; the four setters share one.
constexpr updatelib::ZR_SetKV7300BindingCheck_Fn ZR_SetKV7300BindingCheck = SetValue;
constexpr updatelib::ZR_SetZRKeepLast4KFileCopyNVRamchk_Fn ZR_SetZRKeepLast4KFileCopyNVRamchk =
    SetValue;
constexpr updatelib::ZR_SetLoadEndUserFWFromResourceFlag_Fn ZR_SetLoadEndUserFWFromResourceFlag =
    SetValue;
constexpr updatelib::ZR_SetKV7300FWModuleForEndUserFWResource_Fn
    ZR_SetKV7300FWModuleForEndUserFWResource = SetValue;

int ZR_API ZR_GetDeviceList(char** paths, int* count) {
  switch (current) {
    case World::NoDevice:
      *count = 0;
      break;
    case World::MultipleDevices:
      std::memcpy(paths[0], FirstPath, sizeof FirstPath);
      std::memcpy(paths[1], SecondPath, sizeof SecondPath);
      *count = 2;
      break;
    case World::UpdateRequired:
    case World::UpToDate:
      std::memcpy(paths[0], FirstPath, sizeof FirstPath);
      *count = 1;
      break;
  }
  return 1;
}

int ZR_API ZR_GetChipType(char*, int* chipType) {
  *chipType = 13;
  return 1;
}

int ZR_API ZR_GetRunningCodeMode(char*, int* mode) {
  *mode = 2;
  return 1;
}

int ZR_API ZR_GetFWVersion(char*, char* version) {
  const char* text = current == World::UpToDate ? "00.01.01.07" : "00.01.01.05";
  std::memcpy(version, text, 12);
  return 1;
}

int ZR_API ZR_CheckLoadBinFileMatch(char*, int) { return 1; }

int ZR_API ZR_Inquiry(char*, unsigned char* buffer, int bufferLength, int* dataLength) {
  unsigned char data[36];
  std::memcpy(data, InquiryHeader, sizeof InquiryHeader);
  std::memcpy(data + sizeof InquiryHeader, InquiryText, sizeof InquiryText - 1);
  const int length = bufferLength < 36 ? bufferLength : 36;
  std::memcpy(buffer, data, static_cast<std::size_t>(length));
  *dataLength = length;
  return 1;
}

int ZR_API ZR_InitialCustomizedSettingTable() { return 1; }
int ZR_API ZR_FWUpdateProgrammingNoCustomizedSetting(char*) { return 1; }

}  // namespace

std::string_view NameOf(World world) {
  switch (world) {
    case World::UpdateRequired:
      return "update-required";
    case World::UpToDate:
      return "up-to-date";
    case World::NoDevice:
      return "no-device";
    case World::MultipleDevices:
      return "multiple-devices";
  }
  return "?";
}

void UseWorld(World world) { current = world; }

// Every entry point the program calls, bound to the fake of its own name.
updatelib::EntryPointTable FakeLibrary() {
  updatelib::EntryPointTable table;
#define BENCH_BIND(name, ret, params) table.name = name;
  FLASHWRIGHT_CALLED_ENTRY_POINTS(BENCH_BIND)
#undef BENCH_BIND
  return table;
}

}  // namespace bench
