// The attempt records' rules: what a record says of a device, and when a run ends it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Fakes.h"
#include "update/Attempts.h"

namespace {

using update::Remembered;

constexpr std::int64_t Day = std::int64_t{24} * 60 * 60;

updatelib::DevicePath Path(const std::string& text) {
  updatelib::DevicePath path{};
  std::memcpy(path.data(), text.data(), text.size());
  return path;
}

// One record of device "A" as another program left it, and the devices a run then finds.
TEST(Attempts, WhatARecordSaysAndWhenItEnds) {
  enum class Attached { Old, AtTarget, Absent, Unknown };  // Unknown: the list was not whole
  struct Case {
    const char* name;
    std::string outcome;
    std::string program;
    bool processRuns;
    std::int64_t age;  // seconds since it was written (negative: written in the future)
    Attached attached;
    Remembered state;
    bool kept;
    bool confirmed;
  };
  const std::string Update = "flashwright-cli update";
  const std::string Station = "flashwright-cli station";
  const Case cases[] = {
      {"cut short", "", Update, false, 60, Attached::Old, Remembered::Interrupted, true, false},
      {"cut short, unplugged", "", Update, false, 60, Attached::Absent, Remembered::Interrupted,
       true, false},
      {"still programming elsewhere", "", Update, true, 60, Attached::Old, Remembered::Nothing,
       true, false},
      {"its process id reused a week later", "", Update, true, 8 * Day, Attached::Old,
       Remembered::Nothing, false, false},
      {"cut short, yet at the target", "", Update, false, 60, Attached::AtTarget,
       Remembered::Nothing, false, true},
      {"programmed", "updated", Update, false, Day, Attached::Old, Remembered::PendingPowerCycle,
       true, false},
      {"programmed by the window", "updated", "Flashwright", false, Day, Attached::Old,
       Remembered::PendingPowerCycle, true, false},
      {"programmed, list not whole", "updated", Update, false, Day, Attached::Unknown,
       Remembered::PendingPowerCycle, true, false},
      {"power-cycled", "updated", Update, false, Day, Attached::AtTarget, Remembered::Nothing,
       false, true},
      {"unplugged", "updated", Update, false, Day, Attached::Absent, Remembered::Nothing, false,
       false},
      {"a week and more", "updated", Update, false, 8 * Day, Attached::Old, Remembered::Nothing,
       false, false},
      {"from the future", "updated", Update, false, -2 * Day, Attached::Old, Remembered::Nothing,
       false, false},
      {"by the station", "updated", Station, false, 60, Attached::Old, Remembered::Nothing, true,
       false},
      {"by the station, verified", "updated", Station, false, 60, Attached::AtTarget,
       Remembered::Nothing, false, false},
      {"failed", "failed", Update, false, 60, Attached::Old, Remembered::Nothing, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeAttemptStore store;
    platform::AttemptRecord record;
    record.path = "A";
    record.program = c.program;
    record.process = {7, 70};
    record.outcome = c.outcome;
    record.started = store.now - c.age - 30;
    record.ended = c.outcome.empty() ? 0 : store.now - c.age;
    if (c.outcome.empty()) record.started = store.now - c.age;
    store.records = {record};
    if (c.processRuns) store.running = {7};

    std::vector<update::SeenDevice> seen = {{Path("B"), false}};
    if (c.attached == Attached::Old || c.attached == Attached::AtTarget) {
      seen.push_back({Path("A"), c.attached == Attached::AtTarget});
    }
    update::Attempts attempts(store, update::Program::Update);
    const auto confirmed = attempts.Review(seen, c.attached != Attached::Unknown);
    EXPECT_EQ(attempts.StateOf(Path("A")), c.state);
    EXPECT_EQ(store.records.size(), c.kept ? 1u : 0u);
    ASSERT_EQ(confirmed.size(), c.confirmed ? 1u : 0u);
    if (c.confirmed) {
      EXPECT_EQ(confirmed.front().record.path, "A");
    }
    EXPECT_EQ(attempts.StateOf(Path("B")), Remembered::Nothing);
  }
}

// The intent is on record while the call runs, and counts as nothing for the program writing it;
// a new attempt replaces the device's earlier record.
TEST(Attempts, BeginAndEndReplaceTheDevicesRecord) {
  fakes::FakeAttemptStore store;
  platform::AttemptRecord earlier;
  earlier.path = "A";
  earlier.outcome = "updated";
  earlier.ended = store.now - 60;
  earlier.program = "Flashwright";
  store.records = {earlier};
  update::Attempts attempts(store, update::Program::Update);
  attempts.Review({{Path("A"), false}}, true);
  ASSERT_EQ(attempts.StateOf(Path("A")), Remembered::PendingPowerCycle);

  attempts.Begin(Path("A"), "SIMDEV", "00.01.01.05");
  ASSERT_EQ(store.records.size(), 1u);
  EXPECT_EQ(store.records[0].outcome, "");
  EXPECT_EQ(store.records[0].process.id, store.self.id);
  EXPECT_EQ(attempts.StateOf(Path("A")), Remembered::Nothing);
  EXPECT_EQ(attempts.End(false), "");
  EXPECT_EQ(store.records[0].outcome, "failed");
  EXPECT_EQ(attempts.StateOf(Path("A")), Remembered::Nothing);

  store.saveError = "the registry is full";
  EXPECT_THROW(attempts.Begin(Path("A"), "SIMDEV", "00.01.01.05"), update::RecordFailure);
}

}  // namespace
