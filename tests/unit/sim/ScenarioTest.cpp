// Tests of the scenario file: parsing, defaults, errors with their line numbers, hostile input,
// and the round trip through the serializer and the file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

#include "sim/Scenario.h"

namespace sim {
namespace {

TEST(ScenarioParse, ReadsEveryKeyWithCommentsBlanksAndCrlf) {
  const std::string text =
      "# a world\r\n"
      "\r\n"
      "[library]\r\n"
      "device-list-result = 0\r\n"
      "device-count = -3\r\n"
      "unterminated-paths = yes\r\n"
      "unterminated-version = yes\r\n"
      "inquiry-hex = 00 80 0a0B\r\n"
      "  [ device ]  \r\n"
      "  path =   \\\\?\\usb#disk#1   \r\n"
      "chip-type = 11\r\n"
      "running-mode=1\r\n"
      "version = 00.01.01.06\r\n"
      "image-fits = no\r\n"
      "vendor = ACME\r\n"
      "product = Big Disk 2000\r\n"
      "pending-version = 00.01.01.07\r\n"
      "chip-type-result = 0\r\n"
      "running-mode-result = 2\r\n"
      "version-result = -1\r\n"
      "image-check-result = 7\r\n"
      "inquiry-result = 0\r\n"
      "program-ms = 250\r\n"
      "program-succeeds = no\r\n"
      "program-result = 1\r\n"
      "program-version = 00.01.01.08\r\n";
  ParseResult parsed = ParseScenario(text, "w.ini");
  ASSERT_TRUE(parsed.scenario) << parsed.error;
  const LibrarySettings& library = parsed.scenario->library;
  EXPECT_EQ(library.deviceListResult, 0);
  EXPECT_EQ(library.deviceCount, -3);
  EXPECT_TRUE(library.unterminatedPaths);
  EXPECT_TRUE(library.unterminatedVersion);
  EXPECT_EQ(library.inquiryBytes, (std::vector<unsigned char>{0x00, 0x80, 0x0A, 0x0B}));
  ASSERT_EQ(parsed.scenario->devices.size(), 1u);
  const SimDevice& device = parsed.scenario->devices[0];
  EXPECT_EQ(device.path, "\\\\?\\usb#disk#1");  // '#' inside a value is not a comment
  EXPECT_EQ(device.chipType, 11);
  EXPECT_EQ(device.runningMode, 1);
  EXPECT_EQ(device.version, "00.01.01.06");
  EXPECT_FALSE(device.imageFits);
  EXPECT_EQ(device.vendor, "ACME");
  EXPECT_EQ(device.product, "Big Disk 2000");
  EXPECT_EQ(device.pendingVersion, "00.01.01.07");
  EXPECT_EQ(device.chipTypeResult, 0);
  EXPECT_EQ(device.runningModeResult, 2);
  EXPECT_EQ(device.versionResult, -1);
  EXPECT_EQ(device.imageCheckResult, 7);
  EXPECT_EQ(device.inquiryResult, 0);
  EXPECT_EQ(device.programMs, 250);
  EXPECT_FALSE(device.programSucceeds);
  EXPECT_EQ(device.programResult, 1);
  EXPECT_EQ(device.programVersion, "00.01.01.08");
}

TEST(ScenarioParse, MisbehaviourKeysListCalledEntryPointsInOrder) {
  ParseResult parsed = ParseScenario(
      "[library]\n"
      "pump = ZR_FWUpdateProgrammingNoCustomizedSetting:600000 ,ZR_GetChipType : 0\n"
      "stall=ZR_GetChipType:5\n"
      "crash = ZR_GetChipType,  ZR_SetKV7300BindingCheck\n"
      "modal-message = ZR_GetDeviceList:30000\n"
      "throw = ZR_Inquiry, ZR_GetChipType\n"
      "overflow = ZR_GetFWVersion\n",
      "f");
  ASSERT_TRUE(parsed.scenario) << parsed.error;
  const LibrarySettings& library = parsed.scenario->library;
  EXPECT_EQ(library.pump,
            (std::vector<TimedMisbehaviour>{{"ZR_FWUpdateProgrammingNoCustomizedSetting", 600000},
                                            {"ZR_GetChipType", 0}}));
  EXPECT_EQ(library.stall, (std::vector<TimedMisbehaviour>{{"ZR_GetChipType", 5}}));
  EXPECT_EQ(library.crash,
            (std::vector<std::string>{"ZR_GetChipType", "ZR_SetKV7300BindingCheck"}));
  EXPECT_EQ(library.modalMessage, (std::vector<TimedMisbehaviour>{{"ZR_GetDeviceList", 30000}}));
  EXPECT_EQ(library.throwCpp, (std::vector<std::string>{"ZR_Inquiry", "ZR_GetChipType"}));
  EXPECT_EQ(library.overflow, std::vector<std::string>{"ZR_GetFWVersion"});

  // An empty value clears a list, as usbsim's "set library crash=" does.
  LibrarySettings edited = library;
  EXPECT_EQ(ApplyLibraryKey(edited, "crash", ""), "");
  EXPECT_TRUE(edited.crash.empty());
  // A refused value leaves the list as it was.
  EXPECT_NE(ApplyLibraryKey(edited, "pump", "ZR_Inquiry:1, ZR_Nope:1"), "");
  EXPECT_EQ(edited.pump, library.pump);
}

TEST(ScenarioParse, ByteOrderMarksAreNamed) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xEF\xBB\xBF[device]\n",
       "w.ini:1: starts with a UTF-8 byte-order mark; save the file "
       "without one"},
      {std::string("\xFF\xFE[\0d\0", 6), "w.ini:1: starts with a UTF-16 byte-order mark"},
      {std::string("\xFE\xFF\0[\0d", 6), "w.ini:1: starts with a UTF-16 byte-order mark"},
  };
  for (const auto& [text, message] : cases) {
    ParseResult parsed = ParseScenario(text, "w.ini");
    EXPECT_FALSE(parsed.scenario);
    EXPECT_EQ(parsed.error.rfind(message, 0), 0u) << parsed.error;
  }
}

// usbsim refuses a value with any control character; a scenario line may hold tabs as blanks.
TEST(ScenarioParse, ControlCharacterCheckTakesTabsOnlyInLines) {
  EXPECT_EQ(FindControlCharacter("Big Disk \xC3\xA9~", false), "");
  EXPECT_EQ(FindControlCharacter("00.01\n[device]", false), "control character 0x0A");
  EXPECT_EQ(FindControlCharacter("a\rb", true), "control character 0x0D");
  EXPECT_EQ(FindControlCharacter("a\x7F", true), "control character 0x7F");
  EXPECT_EQ(FindControlCharacter("a\tb", true), "");
  EXPECT_EQ(FindControlCharacter("a\tb", false), "control character 0x09");
}

TEST(ScenarioParse, EmptyDeviceSectionsGetDefaultsAndFreshPaths) {
  ParseResult parsed = ParseScenario("[device]\n[device]\npath = \\\\.\\SIMUSB1\n[device]\n", "f");
  ASSERT_TRUE(parsed.scenario) << parsed.error;
  const auto& devices = parsed.scenario->devices;
  ASSERT_EQ(devices.size(), 3u);
  // The given path is reserved before fresh ones are handed out.
  EXPECT_EQ(devices[0].path, "\\\\.\\SIMUSB2");
  EXPECT_EQ(devices[1].path, "\\\\.\\SIMUSB1");
  EXPECT_EQ(devices[2].path, "\\\\.\\SIMUSB3");
  SimDevice expected;
  expected.path = devices[0].path;
  EXPECT_EQ(devices[0], expected);
  EXPECT_EQ(parsed.scenario->library, LibrarySettings{});
}

TEST(ScenarioParse, EmptyTextIsAWorldWithoutDevices) {
  ParseResult parsed = ParseScenario("# nothing plugged in\n", "f");
  ASSERT_TRUE(parsed.scenario);
  EXPECT_TRUE(parsed.scenario->devices.empty());
}

TEST(ScenarioParse, DefaultWorldIsOneDefaultDevice) {
  Scenario world = DefaultScenario();
  ASSERT_EQ(world.devices.size(), 1u);
  EXPECT_EQ(world.devices[0].chipType, 13);
  EXPECT_EQ(world.devices[0].runningMode, 2);
  EXPECT_EQ(world.devices[0].version, "00.01.01.05");
  EXPECT_TRUE(world.devices[0].imageFits);
  EXPECT_EQ(world.devices[0].programMs, 3000);
  EXPECT_TRUE(world.devices[0].programSucceeds);
  EXPECT_EQ(world.devices[0].programVersion, "00.01.01.07");
}

struct BadInput {
  std::string text;
  int line;
  std::string what;
};

TEST(ScenarioParse, AFileOfThousandsOfDevicesIsRefusedAtTheSeventeenth) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "[device]\n";
  const auto started = std::chrono::steady_clock::now();
  const ParseResult result = ParseScenario(text, "many.scenario");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  EXPECT_FALSE(result.scenario);
  EXPECT_EQ(result.error, "many.scenario:17: more than 16 devices");
}

TEST(ScenarioParse, ErrorsNameFileLineAndProblem) {
  const std::string seventeen = [] {
    std::string text;
    for (int i = 0; i < 17; ++i) text += "[device]\n";
    return text;
  }();
  const BadInput cases[] = {
      {"[device]\nchip_type = 13\n", 2, "unknown key 'chip_type' in [device]"},
      {"[library]\nversion = 1\n", 2, "unknown key 'version' in [library]"},
      {"\n[devices]\n", 2, "unknown section [devices]"},
      {"[device\n", 1, "without closing ']'"},
      {"# top\nchip-type = 13\n", 2, "before any [device]"},
      {"[device]\nchip-type 13\n", 2, "expected 'key = value'"},
      {"[device]\n= 13\n", 2, "missing key"},
      {"[device]\nchip-type = thirteen\n", 2, "chip-type: 'thirteen' is not a whole number"},
      {"[device]\nchip-type = 13x\n", 2, "not a whole number"},
      {"[device]\nchip-type =\n", 2, "not a whole number"},
      {"[device]\nchip-type = 99999999999\n", 2, "out of range"},
      {"[device]\nimage-fits = true\n", 2, "neither yes nor no"},
      {"[device]\nvendor = NINECHARS\n", 2, "longer than 8"},
      {"[device]\nproduct = seventeen chars xx\n", 2, "longer than 16"},
      {"[device]\npath = " + std::string(260, 'p') + "\n", 2, "longer than 259"},
      {"[device]\nversion = " + std::string(80, '0') + "\n", 2, "longer than 79"},
      {"[device]\nprogram-ms = -1\n", 2, "not between 0 and"},
      {"[device]\nversion = 1\n\nversion = 2\n", 4, "given twice"},
      {"[library]\n[device]\n[library]\n", 3, "second [library]"},
      {"[library]\ninquiry-hex = 0 12\n", 2, "odd number of hex digits"},
      {"[library]\ninquiry-hex = 0g\n", 2, "'g' is not a hex digit"},
      {"[library]\ninquiry-hex = " + std::string(512, 'A') + "\n", 2, "more than 255 bytes"},
      {"[device]\npath = a\n[device]\npath = a\n", 3, "path 'a' is used by an earlier device"},
      {seventeen, 17, "more than 16 devices"},
      {"[device]\nvendor = a\x01\n", 2, "control character 0x01"},
      {std::string("[device]\n\0\n", 11), 2, "control character 0x00"},
      {"[device]\n# " + std::string(5000, 'x') + "\n", 2, "line longer than 4096"},
      {"[library]\npump = ZR_GetChipTyp:5\n", 2,
       "pump: 'ZR_GetChipTyp' is not an entry point the program calls"},
      {"[library]\ncrash = ZR_GetMappingLetter\n", 2, "not an entry point the program calls"},
      {"[library]\nstall = ZR_Inquiry\n", 2, "stall: 'ZR_Inquiry' lacks its time"},
      {"[library]\nstall = ZR_Inquiry:600001\n", 2, "ZR_Inquiry: '600001' is not between 0 and"},
      {"[library]\npump = ZR_Inquiry:-1\n", 2, "not between 0 and 600000"},
      {"[library]\npump = ZR_Inquiry:1s\n", 2, "ZR_Inquiry: '1s' is not a whole number"},
      {"[library]\npump = ZR_Inquiry:1, ZR_Inquiry:2\n", 2, "'ZR_Inquiry' given twice"},
      {"[library]\ncrash = ZR_Inquiry, ZR_Inquiry\n", 2, "crash: 'ZR_Inquiry' given twice"},
      {"[library]\ncrash = ZR_Inquiry,\n", 2, "crash: empty item"},
      {"[library]\npump = ,ZR_Inquiry:1\n", 2, "pump: empty item"},
      {"[library]\ncrash = ZR_Inquiry:5\n", 2, "crash: 'ZR_Inquiry:5': takes no time"},
      {"[library]\nmessage-window = ZR_Nope\n", 2, "message-window: 'ZR_Nope' is not an entry"},
      {"[library]\nmodal-message = ZR_Inquiry\n", 2, "modal-message: 'ZR_Inquiry' lacks its time"},
      {"[library]\nthrow = ZR_Inquiry:5\n", 2, "throw: 'ZR_Inquiry:5': takes no time"},
      {"[library]\noverflow = ZR_Inquiry, ZR_Inquiry\n", 2, "overflow: 'ZR_Inquiry' given twice"},
      {"[device]\npath-hex = 41 00 42\n", 2, "path-hex: a NUL byte inside"},
      {"[device]\nversion-hex = " + std::string(160, '3') + "3030\n", 2, "more than 79 bytes"},
      {"[device]\nvendor = A\nvendor-hex = 41\n", 3, "'vendor-hex' sets what 'vendor' set"},
  };
  for (const BadInput& bad : cases) {
    ParseResult parsed = ParseScenario(bad.text, "dir/w.ini");
    EXPECT_FALSE(parsed.scenario) << bad.text;
    const std::string prefix = "dir/w.ini:" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(parsed.error.rfind(prefix, 0), 0u) << parsed.error;
    EXPECT_NE(parsed.error.find(bad.what), std::string::npos) << parsed.error;
  }
}

TEST(ScenarioParse, SurvivesRandomBytesAndMangledFiles) {
  std::mt19937 random(12345);
  const std::string seed = SerializeScenario(DefaultScenario()) + "[library]\ndevice-count = 2\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text = seed;
    if (round % 2 == 0) {
      text.assign(random() % 300, '\0');
      for (char& c : text) c = static_cast<char>(random());
    } else {
      for (int edits = 0; edits < 4; ++edits)
        text[random() % text.size()] = static_cast<char>(random());
    }
    ParseResult parsed = ParseScenario(text, "junk");
    EXPECT_NE(parsed.scenario.has_value(), !parsed.error.empty());
  }
}

Scenario EveryKeySet() {
  Scenario world;
  world.library.deviceListResult = 0;
  world.library.deviceCount = 17;
  world.library.unterminatedPaths = true;
  world.library.unterminatedVersion = true;
  world.library.inquiryBytes = {0x00, 0xFF, 0x41};
  world.library.stall = {{"ZR_GetDeviceList", 0}, {"ZR_Inquiry", 600000}};
  world.library.pump = {{"ZR_Inquiry", 20}};
  world.library.crash = {"ZR_FWUpdateProgrammingNoCustomizedSetting", "ZR_Inquiry"};
  world.library.messageWindow = {"ZR_GetDeviceList", "ZR_GetChipType"};
  world.library.modalMessage = {{"ZR_GetChipType", 600000}};
  world.library.throwCpp = {"ZR_Inquiry"};
  world.library.overflow = {"ZR_GetDeviceList", "ZR_GetFWVersion"};
  world.library.overwriteSlotPointers = true;
  SimDevice device;
  device.path = "\\\\?\\usb#vid_0000#x";
  device.chipType = -12;
  device.runningMode = 0;
  device.version = "";
  device.imageFits = false;
  device.vendor = "V E N";
  device.product = "Product#1";
  device.chipTypeResult = 0;
  device.runningModeResult = 0;
  device.versionResult = 0;
  device.imageCheckResult = 1;
  device.inquiryResult = 0;
  device.programResult = 9;
  device.programMs = 0;
  device.programSucceeds = false;
  device.programVersion = "00.01.01.09";
  device.pendingVersion = "00.01.01.07";
  world.devices.push_back(device);
  world.devices.push_back(DefaultScenario().devices[0]);
  // Texts a line cannot hold as they stand (control bytes, a NUL, blanks at an end) go through
  // the hex keys; bytes above 0x7F alone do not need them.
  SimDevice odd;
  odd.path = "\\\\.\\\x01P\xC9";
  odd.version = std::string(" 00.01\x7F\0x", 9);
  odd.vendor = "\xC9";
  odd.product = "a\tb";
  world.devices.push_back(odd);
  return world;
}

TEST(ScenarioSerialize, RoundTripsEveryKey) {
  for (const Scenario& world : {EveryKeySet(), DefaultScenario(), Scenario{}}) {
    const std::string text = SerializeScenario(world);
    ParseResult parsed = ParseScenario(text, "round");
    ASSERT_TRUE(parsed.scenario) << parsed.error << "\n" << text;
    EXPECT_EQ(*parsed.scenario, world) << text;
  }
  const std::string text = SerializeScenario(EveryKeySet());
  for (const char* line :
       {"path-hex = 5C 5C 2E 5C 01 50 C9\n", "version-hex = 20 30 30 2E 30 31 7F 00 78\n",
        "vendor = \xC9\n", "product-hex = 61 09 62\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
}

TEST(ScenarioSerialize, WritesOnlyBasicKeysForADefaultDevice) {
  const std::string text = SerializeScenario(DefaultScenario());
  EXPECT_NE(text.find("\n[device]\npath = \\\\.\\SIMUSB1\nchip-type = 13\nrunning-mode = 2\n"
                      "version = 00.01.01.05\nimage-fits = yes\nvendor = SIMDEV\n"
                      "product = USB Bridge\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("program"), std::string::npos);
  EXPECT_EQ(text.find("[library]"), std::string::npos);
}

TEST(ScenarioFile, SavesAtomicallyAndLoadsBack) {
  const auto dir = std::filesystem::temp_directory_path() / "flashwright-sim-scenario-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "world.ini").string();

  ParseResult missing = LoadScenarioFile(file);
  EXPECT_FALSE(missing.scenario);
  EXPECT_EQ(missing.error, file + ": cannot open the scenario file");

  std::ofstream(file) << "old contents";
  ASSERT_EQ(SaveScenarioFile(file, EveryKeySet()), "");
  ParseResult loaded = LoadScenarioFile(file);
  ASSERT_TRUE(loaded.scenario) << loaded.error;
  EXPECT_EQ(*loaded.scenario, EveryKeySet());
  // Only the scenario itself is left: the temporary was moved into place.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

  std::ofstream(file, std::ios::binary) << std::string((1 << 20) + 1, '#');
  EXPECT_NE(LoadScenarioFile(file).error.find("larger than"), std::string::npos);
  EXPECT_NE(SaveScenarioFile((dir / "no" / "such" / "dir.ini").string(), Scenario{}), "");
  std::filesystem::remove_all(dir);
}

TEST(ScenarioFile, DocumentedExampleIsTheDefaultWorld) {
  ParseResult example = LoadScenarioFile(FLASHWRIGHT_SIM_EXAMPLE_FILE);
  ASSERT_TRUE(example.scenario) << example.error;
  EXPECT_EQ(*example.scenario, DefaultScenario());
}

TEST(ScenarioFile, UnixPathsFromTheEnvironmentLandOnWinesZDrive) {
  EXPECT_EQ(PathFromEnvironment("/tmp/w.ini"), "Z:\\tmp\\w.ini");
  EXPECT_EQ(PathFromEnvironment("C:\\w.ini"), "C:\\w.ini");
  EXPECT_EQ(PathFromEnvironment("w.ini"), "w.ini");
  EXPECT_EQ(PathFromEnvironment(""), "");
}

}  // namespace
}  // namespace sim
