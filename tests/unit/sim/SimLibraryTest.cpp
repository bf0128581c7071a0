// Tests of the simulated library's answers: what lands in the caller's buffers, injected
// results and nonsense, the world re-read from its file, and programming's pending version.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/SimLibrary.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

using updatelib::PathBufferSize;

class SimLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("flashwright-sim-test-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "world.ini").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Log lines and hook calls also go to events_, in the order they happen.
  SimHost Host(bool withFile) {
    return SimHost{withFile ? file_ : std::string(),
                   [this](const std::string& line) {
                     log_.push_back(line);
                     events_.push_back(line);
                   },
                   [this](const std::string& message) { errors_.push_back(message); },
                   [this](int ms) {
                     slept_.push_back(ms);
                     events_.push_back("(sleep " + std::to_string(ms) + ")");
                     if (duringSleep_) duringSleep_();
                   },
                   [this](int ms) {
                     events_.push_back("(pump " + std::to_string(ms) + ")");
                     if (duringPump_) duringPump_();
                   },
                   [this] {
                     events_.push_back("(crash)");
                     if (duringCrash_) duringCrash_();
                   },
                   {},
                   {},
                   {},
                   {}};
  }
  void WriteWorld(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }

  // The 16 slots as the program hands them over: empty texts in their own buffers.
  struct Slots {
    std::array<std::array<char, PathBufferSize>, 16> buffers{};
    std::array<char*, 16> pointers{};
    Slots() {
      for (std::size_t i = 0; i < 16; ++i) pointers[i] = buffers[i].data();
    }
  };

  std::filesystem::path dir_;
  std::string file_;
  std::vector<std::string> log_;
  std::vector<std::string> errors_;
  std::vector<int> slept_;
  std::vector<std::string> events_;
  std::function<void()> duringSleep_;
  std::function<void()> duringPump_;
  std::function<void()> duringCrash_;
};

TEST_F(SimLibraryTest, DefaultWorldAnswersEveryCallAsAHealthyOutdatedDevice) {
  SimLibrary library(Host(false));
  Slots slots;
  int count = 0;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(count, 1);
  const std::string path = slots.buffers[0].data();
  EXPECT_EQ(path, "\\\\.\\SIMUSB1");
  EXPECT_EQ(slots.buffers[1][0], '\0');

  int chip = 0, mode = 0;
  EXPECT_EQ(library.GetChipType(path.c_str(), &chip), 1);
  EXPECT_EQ(chip, 13);
  EXPECT_EQ(library.GetRunningCodeMode(path.c_str(), &mode), 1);
  EXPECT_EQ(mode, 2);
  char version[80] = {};
  EXPECT_EQ(library.GetFWVersion(path.c_str(), version), 1);
  EXPECT_STREQ(version, "00.01.01.05");
  EXPECT_EQ(library.CheckLoadBinFileMatch(path.c_str(), 0), 1);

  unsigned char inquiry[40] = {};
  int length = 0;
  EXPECT_EQ(library.Inquiry(path.c_str(), inquiry, 40, &length), 1);
  EXPECT_EQ(length, 36);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry) + 8, 24), "SIMDEV  USB Bridge      ");
  EXPECT_EQ(inquiry[36], 0);  // nothing beyond the data

  EXPECT_EQ(log_[0], "ZR_GetDeviceList -> 1 count=1 path[0]=\"\\\\.\\SIMUSB1\"");
  EXPECT_EQ(log_[1], "ZR_GetChipType path=\"\\\\.\\SIMUSB1\" -> 1 chipType=13");
  EXPECT_EQ(log_[3], "ZR_GetFWVersion path=\"\\\\.\\SIMUSB1\" -> 1 version=\"00.01.01.05\"");
}

TEST_F(SimLibraryTest, ProgrammingDefaultWorldKeepsOldVersionWithNewOnePending) {
  SimLibrary library(Host(false));
  const char* path = "\\\\.\\SIMUSB1";
  EXPECT_EQ(library.InitialCustomizedSettingTable(), 1);
  EXPECT_EQ(library.Program(path), 1);
  EXPECT_EQ(slept_, std::vector<int>{3000});
  char version[80] = {};
  library.GetFWVersion(path, version);
  EXPECT_STREQ(version, "00.01.01.05");
  EXPECT_EQ(library.World().devices[0].pendingVersion, "00.01.01.07");
  // The in-memory world survives the next scan.
  Slots slots;
  int count = 0;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(library.World().devices[0].pendingVersion, "00.01.01.07");
}

TEST_F(SimLibraryTest, UnknownOrMissingPathsFailWithoutWriting) {
  SimLibrary library(Host(false));
  int chip = -5, mode = -5, length = -5;
  char version[80] = {};
  unsigned char inquiry[40] = {};
  for (const char* path : {"\\\\.\\SIMUSB2", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(library.GetChipType(path, &chip), 0);
    EXPECT_EQ(library.GetRunningCodeMode(path, &mode), 0);
    EXPECT_EQ(library.GetFWVersion(path, version), 0);
    EXPECT_EQ(library.CheckLoadBinFileMatch(path, 0), 0);
    EXPECT_EQ(library.Inquiry(path, inquiry, 40, &length), 0);
    EXPECT_EQ(library.Program(path), 0);
  }
  EXPECT_EQ(chip, -5);
  EXPECT_EQ(mode, -5);
  EXPECT_EQ(length, -5);
  EXPECT_EQ(version[0], '\0');
  EXPECT_TRUE(slept_.empty());
  EXPECT_EQ(log_[0], "ZR_GetChipType path=\"\\\\.\\SIMUSB2\" -> 0 unknown-device");

  // A path without a terminator in its buffer is read no further than the buffer.
  std::array<char, PathBufferSize + 16> unterminated;
  unterminated.fill('A');
  unterminated.back() = '\0';
  EXPECT_EQ(library.GetChipType(unterminated.data(), &chip), 0);
  EXPECT_NE(log_.back().find(std::string(PathBufferSize, 'A') + "\""), std::string::npos);
}

TEST_F(SimLibraryTest, InjectedResultsComeWithTheOutValuesAnyway) {
  WriteWorld(
      "[library]\ndevice-list-result = 0\nsetter-result = 0\nsettings-table-result = -2\n"
      "[device]\npath = d\nchip-type = 12\nrunning-mode = 1\nversion = 9\nimage-fits = no\n"
      "chip-type-result = 0\nrunning-mode-result = -1\nversion-result = 0\ninquiry-result = 0\n"
      "program-ms = 5\nprogram-succeeds = yes\nprogram-result = 0\n"
      "[device]\npath = e\nimage-fits = no\nimage-check-result = 4\nprogram-succeeds = no\n"
      "program-ms = 0\n");
  SimLibrary library(Host(true));
  // The setters come before any device list: they read the world themselves.
  EXPECT_EQ(library.Setter("ZR_SetKV7300BindingCheck", 1), 0);
  EXPECT_EQ(library.InitialCustomizedSettingTable(), -2);
  Slots slots;
  int count = 0;
  EXPECT_EQ(library.GetDeviceList(slots.pointers.data(), &count), 0);
  EXPECT_EQ(count, 2);
  int chip = 0, mode = 0, length = 0;
  char version[80] = {};
  unsigned char inquiry[40] = {};
  EXPECT_EQ(library.GetChipType("d", &chip), 0);
  EXPECT_EQ(chip, 12);
  EXPECT_EQ(library.GetRunningCodeMode("d", &mode), -1);
  EXPECT_EQ(mode, 1);
  EXPECT_EQ(library.GetFWVersion("d", version), 0);
  EXPECT_STREQ(version, "9");
  EXPECT_EQ(library.CheckLoadBinFileMatch("d", 0), 0);
  EXPECT_EQ(library.CheckLoadBinFileMatch("e", 0), 4);
  EXPECT_EQ(library.Inquiry("d", inquiry, 40, &length), 0);
  EXPECT_EQ(length, 36);
  // Programmed but reported as failed; and failed without an injected result.
  EXPECT_EQ(library.Program("d"), 0);
  EXPECT_EQ(library.Program("e"), 0);
  ParseResult after = LoadScenarioFile(file_);
  ASSERT_TRUE(after.scenario);
  EXPECT_EQ(after.scenario->devices[0].pendingVersion, "00.01.01.07");
  EXPECT_EQ(after.scenario->devices[1].pendingVersion, "");
}

TEST_F(SimLibraryTest, DeviceCountOverrideNeverWritesMoreThanTheDevices) {
  for (const char* override : {"17", "-3", "0"}) {
    WriteWorld(std::string("[library]\ndevice-count = ") + override + "\n[device]\n[device]\n");
    SimLibrary library(Host(true));
    Slots slots;
    int count = 99;
    library.GetDeviceList(slots.pointers.data(), &count);
    EXPECT_EQ(count, std::stoi(override));
    EXPECT_STREQ(slots.buffers[0].data(), "\\\\.\\SIMUSB1");
    EXPECT_STREQ(slots.buffers[1].data(), "\\\\.\\SIMUSB2");
    EXPECT_EQ(slots.buffers[2][0], '\0');
  }
}

TEST_F(SimLibraryTest, SixteenDevicesFillEverySlotAndNullSlotsAreSkipped) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += "[device]\n";
  WriteWorld(text);
  SimLibrary library(Host(true));
  Slots slots;
  slots.pointers[3] = nullptr;
  int count = 0;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(count, 16);
  EXPECT_STREQ(slots.buffers[15].data(), "\\\\.\\SIMUSB16");
  EXPECT_EQ(slots.buffers[3][0], '\0');
  library.GetDeviceList(nullptr, nullptr);  // nothing to write to, and no harm done
}

TEST_F(SimLibraryTest, NonsenseSwitchesOverrunNothingButTheTerminator) {
  WriteWorld(
      "[library]\nunterminated-paths = yes\nunterminated-version = yes\n"
      "inquiry-hex = " +
      std::string(100, 'A') + "\n[device]\npath = p\nversion = 00.01.01.07\n");
  SimLibrary library(Host(true));
  std::array<char, PathBufferSize + 1> slot{};
  slot.back() = '!';
  char* pointers[16] = {slot.data()};
  int count = 0;
  library.GetDeviceList(pointers, &count);
  EXPECT_EQ(std::string(slot.data(), 2), "pX");
  EXPECT_EQ(std::memchr(slot.data(), '\0', PathBufferSize), nullptr);
  EXPECT_EQ(slot.back(), '!');

  char version[81];
  version[80] = '!';
  library.GetFWVersion("p", version);
  EXPECT_EQ(std::string(version, 12), "00.01.01.07X");
  EXPECT_EQ(std::memchr(version, '\0', 80), nullptr);
  EXPECT_EQ(version[80], '!');

  unsigned char inquiry[41];
  inquiry[40] = 0x5A;
  int length = 0;
  EXPECT_EQ(library.Inquiry("p", inquiry, 40, &length), 1);
  EXPECT_EQ(length, 40);
  EXPECT_EQ(inquiry[39], 0xAA);
  EXPECT_EQ(inquiry[40], 0x5A);
  EXPECT_EQ(library.Inquiry("p", inquiry, -1, &length), 1);
  EXPECT_EQ(length, 0);
}

// overrun: exactly that many bytes past each buffer the library was promised, every path slot
// included, and not one more.
TEST_F(SimLibraryTest, OverrunWritesPastEveryPromisedBufferAndNoFurther) {
  WriteWorld("[library]\noverrun = 3\n[device]\npath = p\n");
  SimLibrary library(Host(true));
  constexpr std::size_t Past = 3;
  std::array<std::array<char, PathBufferSize + Past + 1>, 16> slots{};
  char* pointers[16];
  for (std::size_t i = 0; i < 16; ++i) {
    slots[i].back() = '!';
    pointers[i] = slots[i].data();
  }
  int count = 0;
  EXPECT_EQ(library.GetDeviceList(pointers, &count), 1);
  for (const auto& slot : slots) {
    EXPECT_EQ(std::string(slot.data() + PathBufferSize, Past + 1), "XXX!");
  }
  EXPECT_STREQ(slots[0].data(), "p");

  char version[80 + Past + 1];
  version[80 + Past] = '!';
  library.GetFWVersion("p", version);
  EXPECT_EQ(std::string(version + 80, Past + 1), "XXX!");

  unsigned char inquiry[40 + Past + 1];
  inquiry[40 + Past] = 0x5A;
  int length = 0;
  library.Inquiry("p", inquiry, 40, &length);
  EXPECT_EQ(length, 36);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry) + 40, Past), "XXX");
  EXPECT_EQ(inquiry[40 + Past], 0x5A);
}

TEST_F(SimLibraryTest, FileIsReReadAtEveryDeviceList) {
  WriteWorld("[device]\npath = a\n");
  SimLibrary library(Host(true));
  int chip = 0;
  EXPECT_EQ(library.GetChipType("a", &chip), 1);  // loaded before any device list
  WriteWorld("[device]\npath = b\n[device]\npath = c\n");
  EXPECT_EQ(library.GetChipType("b", &chip), 0);  // only a device list re-reads
  Slots slots;
  int count = 0;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(library.GetChipType("a", &chip), 0);
  EXPECT_EQ(library.GetChipType("b", &chip), 1);
}

TEST_F(SimLibraryTest, MalformedOrMissingFilePresentsNoDeviceAndSaysWhy) {
  WriteWorld("[device]\nchip-typo = 13\n");
  SimLibrary library(Host(true));
  Slots slots;
  int count = 7;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(slots.buffers[0][0], '\0');
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find(file_ + ":2: unknown key 'chip-typo'"), std::string::npos);
  EXPECT_EQ(log_[0].rfind("error " + file_ + ":2: ", 0), 0u) << log_[0];

  std::filesystem::remove(file_);
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_EQ(count, 0);
  EXPECT_NE(errors_.back().find("cannot open"), std::string::npos);
}

TEST_F(SimLibraryTest, ProgrammingRecordsPendingVersionInTheFileAndKeepsOtherChanges) {
  WriteWorld("[device]\npath = a\nprogram-ms = 40\n");
  SimLibrary library(Host(true));
  // While programming runs, usbsim plugs a second device; that change must survive.
  duringSleep_ = [this] {
    WriteWorld("[device]\npath = a\nprogram-ms = 40\n[device]\npath = z\n");
  };
  EXPECT_EQ(library.Program("a"), 1);
  EXPECT_EQ(slept_, std::vector<int>{40});
  ParseResult after = LoadScenarioFile(file_);
  ASSERT_TRUE(after.scenario) << after.error;
  ASSERT_EQ(after.scenario->devices.size(), 2u);
  EXPECT_EQ(after.scenario->devices[0].version, "00.01.01.05");
  EXPECT_EQ(after.scenario->devices[0].pendingVersion, "00.01.01.07");
  EXPECT_EQ(log_.back(),
            "ZR_FWUpdateProgrammingNoCustomizedSetting path=\"a\" -> 1 pending=\"00.01.01.07\"");
}

TEST_F(SimLibraryTest, DeviceUnpluggedDuringProgrammingFails) {
  WriteWorld("[device]\npath = a\n");
  SimLibrary library(Host(true));
  duringSleep_ = [this] { WriteWorld("# unplugged\n"); };
  EXPECT_EQ(library.Program("a"), 0);
  EXPECT_NE(log_.back().find("-> 0 device-removed"), std::string::npos);
  ParseResult after = LoadScenarioFile(file_);
  ASSERT_TRUE(after.scenario);
  EXPECT_TRUE(after.scenario->devices.empty());
}

TEST_F(SimLibraryTest, MisbehaviourComesFirstAndReEnteredCallsAreMarked) {
  WriteWorld(
      "[library]\n"
      "stall = ZR_FWUpdateProgrammingNoCustomizedSetting:5\n"
      "pump = ZR_FWUpdateProgrammingNoCustomizedSetting:70, ZR_GetChipType:0\n"
      "crash = ZR_GetFWVersion\n"
      "[device]\npath = d\nprogram-ms = 20\n");
  SimLibrary library(Host(true));
  std::vector<int> depthAtCrash;
  duringCrash_ = [&] { depthAtCrash.push_back(library.CallDepth()); };
  int chip = 0;
  char version[80] = "untouched";
  // The program handles messages inside the pumping call and calls the library again; the
  // nested chip-type call pumps in turn, so its own pump line is marked too.
  bool reentered = false;
  duringPump_ = [&] {
    if (reentered) return;
    reentered = true;
    EXPECT_EQ(library.GetChipType("d", &chip), 1);
    EXPECT_EQ(library.GetFWVersion("d", version), 0);
  };
  EXPECT_EQ(library.Program("d"), 1);
  const std::string name = "ZR_FWUpdateProgrammingNoCustomizedSetting";
  EXPECT_EQ(events_, (std::vector<std::string>{
                         name + " stall ms=5",
                         "(sleep 5)",
                         name + " pump ms=70",
                         "(pump 70)",
                         "ZR_GetChipType pump ms=0 nested",
                         "(pump 0)",
                         "ZR_GetChipType path=\"d\" -> 1 chipType=13 nested",
                         "ZR_GetFWVersion crash nested",
                         "(crash)",
                         name + " path=\"d\" begin ms=20",
                         "(sleep 20)",
                         name + " path=\"d\" -> 1 pending=\"00.01.01.07\"",
                     }));
  EXPECT_EQ(chip, 13);
  EXPECT_STREQ(version, "untouched");  // a crashing call does no work
  // The crashing call had left already: only the programming call was counted.
  EXPECT_EQ(depthAtCrash, std::vector<int>{1});

  // A crash at the top leaves no call counted: the calls after it are not nested.
  events_.clear();
  EXPECT_EQ(library.GetFWVersion("d", version), 0);
  EXPECT_EQ(depthAtCrash, (std::vector<int>{1, 0}));
  EXPECT_EQ(library.Setter("ZR_SetKV7300BindingCheck", 1), 1);
  EXPECT_EQ(events_, (std::vector<std::string>{"ZR_GetFWVersion crash", "(crash)",
                                               "ZR_SetKV7300BindingCheck value=1 -> 1"}));
}

TEST_F(SimLibraryTest, MisbehaviourChangedInTheFileAppliesFromTheNextDeviceList) {
  WriteWorld("[device]\npath = d\n");
  SimLibrary library(Host(true));
  int chip = 0;
  library.GetChipType("d", &chip);
  WriteWorld("[library]\nstall = ZR_GetDeviceList:1, ZR_GetChipType:2\n[device]\npath = d\n");
  library.GetChipType("d", &chip);
  EXPECT_TRUE(slept_.empty());  // still the world of the last read
  library.GetDeviceList(nullptr, nullptr);
  library.GetChipType("d", &chip);
  EXPECT_EQ(slept_, (std::vector<int>{1, 2}));  // the device list re-read first
}

// A library that reuses the caller's pointer array after filling the slots, and one that shows a
// note of its own (at most one at a time) before pumping.
TEST_F(SimLibraryTest, SlotPointersAreOverwrittenAfterThePathsAndTheNoteComesBeforeThePump) {
  WriteWorld(
      "[library]\noverwrite-slot-pointers = yes\nmessage-window = ZR_GetChipType\n"
      "pump = ZR_GetChipType:0\n[device]\npath = d\n");
  SimLibrary library(Host(true));
  Slots slots;
  int count = 0;
  library.GetDeviceList(slots.pointers.data(), &count);
  EXPECT_STREQ(slots.buffers[0].data(), "d");
  EXPECT_EQ(slots.pointers[0], nullptr);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_TRUE(slots.pointers[i] == nullptr || slots.pointers[i] != slots.buffers[i].data()) << i;
  }
  EXPECT_EQ(log_.back(), "ZR_GetDeviceList -> 1 count=1 path[0]=\"d\" slot-pointers-overwritten");

  bool noteOpen = false;
  SimHost host = Host(true);
  host.showNote = [&] {
    events_.push_back("(note)");
    if (noteOpen) return false;
    return noteOpen = true;
  };
  SimLibrary noting(host);
  int chip = 0;
  noting.GetChipType("d", &chip);
  noting.GetChipType("d", &chip);
  events_.erase(events_.begin(), events_.end() - 10);
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "(note)", "ZR_GetChipType message-window", "ZR_GetChipType pump ms=0",
                         "(pump 0)", "ZR_GetChipType path=\"d\" -> 1 chipType=13", "(note)",
                         "ZR_GetChipType message-window already-open", "ZR_GetChipType pump ms=0",
                         "(pump 0)", "ZR_GetChipType path=\"d\" -> 1 chipType=13"}));
}

// The faults a compiled library may raise and the note it may wait for inside a call: each
// through its own hook, the faults doing no work and leaving the call; without a hook of their
// own the throw and the overflow fall back on raise and, failing that, crash.
TEST_F(SimLibraryTest, ModalNoteThrowAndOverflowUseTheirHooks) {
  WriteWorld(
      "[library]\nmodal-message = ZR_GetChipType:900\nthrow = ZR_GetFWVersion\n"
      "overflow = ZR_Inquiry\ncrash = ZR_Inquiry\n[device]\npath = d\n");
  SimHost host = Host(true);
  host.showNote = [&] {
    events_.push_back("(note)");
    return true;
  };
  bool closes = true;
  host.waitForNote = [&](int ms) {
    events_.push_back("(wait " + std::to_string(ms) + ")");
    return closes;
  };
  std::vector<int> depthAtRaise;
  host.raise = [&](std::uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, "(raise %08X)", static_cast<unsigned>(code));
    events_.push_back(text);
  };
  host.overflow = [&] { events_.push_back("(overflow)"); };
  SimLibrary library(host);
  int chip = 0;
  char version[80] = "untouched";
  unsigned char inquiry[40] = {};
  int length = -1;
  EXPECT_EQ(library.GetChipType("d", &chip), 1);
  closes = false;
  EXPECT_EQ(library.GetChipType("d", &chip), 1);
  EXPECT_EQ(library.GetFWVersion("d", version), 0);
  // Crash goes first when one entry point is listed under several fault keys.
  EXPECT_EQ(library.Inquiry("d", inquiry, 40, &length), 0);
  library.World().library.crash.clear();
  EXPECT_EQ(library.Inquiry("d", inquiry, 40, &length), 0);
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "(note)",
                         "ZR_GetChipType modal-message ms=900",
                         "(wait 900)",
                         "ZR_GetChipType modal-message closed",
                         "ZR_GetChipType path=\"d\" -> 1 chipType=13",
                         "(note)",
                         "ZR_GetChipType modal-message ms=900",
                         "(wait 900)",
                         "ZR_GetChipType modal-message timed-out",
                         "ZR_GetChipType path=\"d\" -> 1 chipType=13",
                         "ZR_GetFWVersion throw",
                         "(raise E06D7363)",
                         "ZR_Inquiry crash",
                         "(crash)",
                         "ZR_Inquiry overflow",
                         "(overflow)",
                     }));
  EXPECT_STREQ(version, "untouched");
  EXPECT_EQ(length, -1);
  EXPECT_EQ(library.CallDepth(), 0);

  // A host without those hooks: the overflow is raised as its code, and with no raise hook
  // either, both end in the crash hook.
  WriteWorld("[library]\nthrow = ZR_GetFWVersion\noverflow = ZR_Inquiry\n[device]\npath = d\n");
  host.overflow = {};
  SimLibrary raising(host);
  events_.clear();
  raising.Inquiry("d", inquiry, 40, &length);
  host.raise = {};
  SimLibrary crashing(host);
  crashing.GetFWVersion("d", version);
  EXPECT_EQ(events_, (std::vector<std::string>{"ZR_Inquiry overflow", "(raise C00000FD)",
                                               "ZR_GetFWVersion throw", "(crash)"}));
}

TEST(SimLibraryQuote, ShowsControlAndHighBytesAndQuotes) {
  EXPECT_EQ(Quote("a\"b\x01\xff\\"), "\"a\\\"b\\x01\\xFF\\\"");
}

}  // namespace
}  // namespace sim
