// Tests of the recording format (writer and reader, hostile lines), of replaying a recording
// (answers, divergences, time, faults) and of what usbsim makes of one.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "recording/Recording.h"
#include "sim/Replay.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

using recorder::RecordedCall;

// \\.\SIMUSB1 and \\.\SIMUSB2 as the recorder writes paths.
std::string Path1() { return recorder::Hex("\\\\.\\SIMUSB1"); }
std::string Path2() { return recorder::Hex("\\\\.\\SIMUSB2"); }

std::string InquiryData(const std::string& vendor, const std::string& product) {
  std::string data("\x00\x80\x06\x02\x1F\x00\x00\x00", 8);
  data += (vendor + std::string(8, ' ')).substr(0, 8);
  data += (product + std::string(16, ' ')).substr(0, 16);
  return data + "0001";
}

// A session of the command line against two devices: the second's image does not fit, its
// vendor is not ASCII, listing is slow, a version read handled messages, the programming faulted.
std::string Session() {
  return std::string(recorder::FormatHeader) + "\n" +
         "# comment\n"
         "1 ZR_SetKV7300BindingCheck value=1 -> 1 us=12 messages=0\n"
         "2 ZR_GetDeviceList -> 1 count=2 path0=" +
         Path1() + " path1=" + Path2() +
         " us=250000 messages=0\n"
         "3 ZR_GetFWVersion path=" +
         Path1() + " -> 1 version=" + recorder::Hex("00.01.01.05") +
         " us=30000 messages=2 kinds=WM_TIMER:1,WM_PAINT:1\n"
         "4 ZR_Inquiry path=" +
         Path2() + " bufferLength=40 -> 1 dataLength=36 data=" +
         recorder::Hex(InquiryData("\xC9T\xC9", "Disk")) +
         " us=40 messages=0\n"
         "5 ZR_CheckLoadBinFileMatch path=" +
         Path2() +
         " flag=0 -> 0 us=40 messages=0\r\n"
         "6 ZR_FWUpdateProgrammingNoCustomizedSetting path=" +
         Path1() + " -> fault code=C0000005 address=6A001234 us=900 messages=0\n";
}

recorder::Recording Parse(const std::string& text) {
  recorder::ParsedRecording parsed = recorder::ParseRecording(text);
  EXPECT_TRUE(parsed.recording.has_value()) << parsed.error;
  return parsed.recording.value_or(recorder::Recording{});
}

TEST(RecordingFormat, EveryCallFormatsToALineThatReadsBackTheSame) {
  const recorder::Recording recording = Parse(Session());
  ASSERT_EQ(recording.calls.size(), 6u);
  EXPECT_EQ(recording.notes, std::vector<std::string>{"comment"});
  std::string again = std::string(recorder::FormatHeader) + "\n";
  for (const RecordedCall& call : recording.calls) again += recorder::FormatCall(call) + "\n";
  EXPECT_EQ(Parse(again).calls, recording.calls);
  EXPECT_EQ(recording.calls[2].messageKinds, "WM_TIMER:1,WM_PAINT:1");
  EXPECT_FALSE(recording.calls[5].result.has_value());
  EXPECT_EQ(recording.calls[5].fault, (recorder::Fault{0xC0000005u, 0x6A001234u}));
}

TEST(RecordingFormat, ACallThatReturnsAfterItsFaultReplacesTheFaultLine) {
  const std::string text = std::string(recorder::FormatHeader) +
                           "\n7 ZR_InitialCustomizedSettingTable -> fault code=E06D7363 "
                           "address=00401000 us=5 messages=0\n"
                           "3 ZR_InitialCustomizedSettingTable -> 1 us=1 messages=0\n"
                           "7 ZR_InitialCustomizedSettingTable -> 1 code=E06D7363 "
                           "address=00401000 us=9 messages=0\n";
  const recorder::Recording recording = Parse(text);
  ASSERT_EQ(recording.calls.size(), 2u);
  EXPECT_EQ(recording.calls[0].sequence, 3u) << "calls are in the order they started";
  EXPECT_EQ(recording.calls[1].result, 1);
  EXPECT_EQ(recording.calls[1].micros, 9);
}

// The note naming the program and the versions: read where the recorder writes it, a recording
// without it reads as before, and a note that is not quite one is only a note.
TEST(RecordingFormat, TheOriginNoteNamesProgramAndVersionsAndIsOptional) {
  const recorder::Origin spaced{"Flash wright (2).exe", "1.4.0.12", "1.4.0.13", ""};
  EXPECT_EQ(recorder::FormatOrigin(spaced),
            "origin recorder=1.4.0.13 version=1.4.0.12 program=Flash wright (2).exe");
  EXPECT_EQ(recorder::FormatOrigin({"a.exe", "2", "1", "status\n--json\r"}),
            "origin recorder=1 version=2 program=a.exe command=status --json ");
  const struct {
    std::string note;
    std::optional<recorder::Origin> origin;
  } cases[] = {
      {recorder::FormatOrigin(spaced), spaced},
      {"origin recorder=unknown version=unknown program=a.exe",
       recorder::Origin{"a.exe", "unknown", "unknown", ""}},
      {"origin recorder=1 version=2 program=a b.exe command=update --log-file \"C:\\x y.log\"",
       recorder::Origin{"a b.exe", "2", "1", "update --log-file \"C:\\x y.log\""}},
      {"origin recorder=1 version=2 program=Flashwright.exe command=window",
       recorder::Origin{"Flashwright.exe", "2", "1", "window"}},
      {"origin recorder=1 version=2 program= command=window", std::nullopt},
      {"calls of the update library, one a line", std::nullopt},
      {"origin recorder=1 program=a.exe version=2", std::nullopt},
      {"origin recorder= version=2 program=a.exe", std::nullopt},
      {"origin recorder=1 version=2 program=", std::nullopt},
      {"origin recorder=1 version=2", std::nullopt},
  };
  for (const auto& [note, origin] : cases) {
    SCOPED_TRACE(note);
    EXPECT_EQ(recorder::ParseOrigin(note), origin);
    const recorder::Recording recording =
        Parse(std::string(recorder::FormatHeader) + "\n# " + note + "\n" + Session().substr(8));
    EXPECT_EQ(recording.origin, origin);
    EXPECT_EQ(recording.calls.size(), 6u);
  }
  EXPECT_FALSE(Parse(Session()).origin.has_value());
}

TEST(RecordingFormat, HostileTextIsRefusedWithTheLineAndWhat) {
  const std::string header = std::string(recorder::FormatHeader) + "\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "line 1: not a recording (empty)"},
      {"\xEF\xBB\xBF" + header, "line 1: not a recording"},
      {"fwrec 2\n", "line 1: not a recording"},
      {header + "1 ZR_Bogus -> 1 us=1 messages=0\n", "line 2: unknown entry point"},
      {header + "0 ZR_InitialCustomizedSettingTable -> 1 us=1 messages=0\n", "bad sequence"},
      {header + "1 ZR_InitialCustomizedSettingTable -> 1\n", "no us= or messages="},
      {header + "1 ZR_InitialCustomizedSettingTable -> x us=1 messages=0\n", "bad result"},
      {header + "1 ZR_InitialCustomizedSettingTable ->\n", "no result"},
      {header + "1 ZR_GetChipType path=5C\x01 -> 1 us=1 messages=0\n", "bad argument"},
      {header + "1 ZR_InitialCustomizedSettingTable -> fault us=1 messages=0\n",
       "a fault without code="},
      {header + "1 ZR_InitialCustomizedSettingTable -> 1 code=1 us=1 messages=0\n",
       "needs code= and address="},
      {header + "1 ZR_GetChipType path=00 -> 1 chipType=1 chipType=2 us=1 messages=0\n", "twice"},
      {header + "1 ZR_InitialCustomizedSettingTable -> 1 us=-1 messages=0\n", "bad time"},
      {header + "99999999999999999999999 ZR_InitialCustomizedSettingTable -> 1 us=1 messages=0\n",
       "bad sequence"},
      {header + std::string(recorder::MaxLineLength + 1, '1'), "line too long"},
  };
  for (const auto& [text, error] : cases) {
    const recorder::ParsedRecording parsed = recorder::ParseRecording(text);
    EXPECT_FALSE(parsed.recording.has_value()) << text;
    EXPECT_NE(parsed.error.find(error), std::string::npos) << parsed.error << " for: " << text;
  }
}

// A replay of Session with its hooks recorded as events.
class ReplayTest : public ::testing::Test {
 protected:
  Replayer Make(const std::string& text = Session()) {
    SimHost host;
    host.log = [this](const std::string& line) { log_.push_back(line); };
    host.sleep = [this](int ms) { events_.push_back("sleep " + std::to_string(ms)); };
    host.pump = [this](int ms) { events_.push_back("pump " + std::to_string(ms)); };
    host.raise = [this](std::uint32_t code) { events_.push_back("raise " + std::to_string(code)); };
    return Replayer(host, Parse(text));
  }
  std::vector<std::string> log_;
  std::vector<std::string> events_;
};

TEST_F(ReplayTest, AnswersTheRecordedCallsInOrderWithTheirOutValuesTimeAndFault) {
  Replayer replay = Make();
  EXPECT_EQ(replay.Setter("ZR_SetKV7300BindingCheck", 1), 1);

  std::array<std::array<char, updatelib::PathBufferSize>, updatelib::DeviceListSlotCount> slots{};
  std::array<char*, updatelib::DeviceListSlotCount> pointers{};
  for (std::size_t i = 0; i < slots.size(); ++i) pointers[i] = slots[i].data();
  int count = -1;
  EXPECT_EQ(replay.GetDeviceList(pointers.data(), &count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(slots[0].data(), "\\\\.\\SIMUSB1");
  EXPECT_STREQ(slots[1].data(), "\\\\.\\SIMUSB2");

  std::array<char, updatelib::VersionBufferSize> version;
  version.fill('X');
  EXPECT_EQ(replay.GetFWVersion(slots[0].data(), version.data()), 1);
  EXPECT_STREQ(version.data(), "00.01.01.05");

  std::array<unsigned char, 40> inquiry{};
  int length = 0;
  EXPECT_EQ(replay.Inquiry(slots[1].data(), inquiry.data(), 40, &length), 1);
  EXPECT_EQ(length, 36);
  EXPECT_EQ(std::memcmp(inquiry.data() + 8, "\xC9T\xC9     Disk", 12), 0);
  EXPECT_EQ(replay.CheckLoadBinFileMatch(slots[1].data(), 0), 0);
  EXPECT_EQ(replay.Program(slots[0].data()), 0);

  EXPECT_EQ(events_, (std::vector<std::string>{"sleep 250", "pump 30", "sleep 1",
                                               "raise " + std::to_string(0xC0000005u)}));
  EXPECT_EQ(replay.Answered(), 6u);
  EXPECT_EQ(replay.Divergences(), 0u);
  EXPECT_TRUE(ReplayDivergences(Parse(Session()), log_).empty());
}

TEST_F(ReplayTest, AnotherCallOrPathIsADivergenceAnsweredWithFailureAndBothSidesLogged) {
  Replayer replay = Make();
  ASSERT_EQ(replay.Setter("ZR_SetKV7300BindingCheck", 1), 1);
  std::array<char, updatelib::PathBufferSize> slot{};
  std::array<char*, updatelib::DeviceListSlotCount> pointers{slot.data()};
  int count = 0;
  ASSERT_EQ(replay.GetDeviceList(pointers.data(), &count), 1);

  // The second device's version asked instead of the first's: nothing written, 0, logged.
  std::array<char, updatelib::VersionBufferSize> version{};
  EXPECT_EQ(replay.GetFWVersion("\\\\.\\SIMUSB2", version.data()), 0);
  EXPECT_EQ(version[0], '\0');
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_.back(), "divergence asked: ZR_GetFWVersion path=" + Path2() +
                             " recorded: 3 ZR_GetFWVersion path=" + Path1() +
                             " -> 1 version=" + recorder::Hex("00.01.01.05") +
                             " us=30000 messages=2 kinds=WM_TIMER:1,WM_PAINT:1");
  // Another entry point: likewise; the recording still waits with its call 3.
  EXPECT_EQ(replay.InitialCustomizedSettingTable(), 0);
  EXPECT_EQ(replay.GetFWVersion("\\\\.\\SIMUSB1", version.data()), 1);
  EXPECT_EQ(replay.Divergences(), 2u);

  const std::vector<std::string> found = ReplayDivergences(Parse(Session()), log_);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[2].rfind("divergence unasked: 3 recorded call(s) from 4 ZR_Inquiry", 0), 0u)
      << found[2];
}

TEST_F(ReplayTest, AnEndedRecordingDivergesAtEveryFurtherCall) {
  Replayer replay = Make(std::string(recorder::FormatHeader) + "\n");
  int chipType = 7;
  EXPECT_EQ(replay.GetChipType("\\\\.\\SIMUSB1", &chipType), 0);
  EXPECT_EQ(chipType, 7);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0], "divergence asked: ZR_GetChipType path=" + Path1() +
                         " recorded: the recording has ended");
}

TEST(ScenarioFromRecording, GivesTheDevicesAsLastSeenWithTheirMisbehaviour) {
  const Scenario world = ScenarioFromRecording(Parse(Session()));
  ASSERT_EQ(world.devices.size(), 2u);
  EXPECT_EQ(world.devices[0].path, "\\\\.\\SIMUSB1");
  EXPECT_EQ(world.devices[0].version, "00.01.01.05");
  EXPECT_EQ(world.devices[1].vendor, "\xC9T\xC9");
  EXPECT_EQ(world.devices[1].product, "Disk");
  EXPECT_FALSE(world.devices[1].imageFits);
  EXPECT_EQ(world.library.stall, (std::vector<TimedMisbehaviour>{{"ZR_GetDeviceList", 250}}));
  EXPECT_EQ(world.library.pump, (std::vector<TimedMisbehaviour>{{"ZR_GetFWVersion", 30}}));
  EXPECT_EQ(world.library.crash,
            std::vector<std::string>{"ZR_FWUpdateProgrammingNoCustomizedSetting"});
  // An ordinary scenario file: it reads back as the same world.
  const ParseResult again = ParseScenario(SerializeScenario(world), "from-recording");
  ASSERT_TRUE(again.scenario.has_value()) << again.error;
  EXPECT_EQ(*again.scenario, world);
}

}  // namespace
}  // namespace sim
