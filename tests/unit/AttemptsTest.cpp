// The attempt records' rules: what a record says of a device, and when a run ends it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
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

// One record of device "A" as another program left it, and the devices a run then finds. Beside
// it the store always holds a fresh record of "A" under a name that is not A's (an older version's,
// or planted): it must never speak of the device, end, or be changed.
TEST(Attempts, WhatARecordSaysAndWhenItEnds) {
  // What the run finds at A (Absent: a complete list without it; Unlisted: the list not whole).
  enum class At {
    Old,
    AtTarget,
    OtherUnit,
    OtherVersion,
    OtherAtTarget,
    Unreadable,
    Absent,
    Unlisted
  };
  // The record's process: gone, running, or its id now another process's (this one's included).
  enum class Owner { Gone, Runs, IdReused, OurIdOnly };
  struct Case {
    const char* name;
    std::string outcome;
    std::string program;
    Owner owner;
    std::int64_t age;  // seconds since it was written (negative: written in the future)
    bool seenGone;
    At at;
    std::optional<std::int64_t> arrived;  // when A last arrived, after the record's end
    Remembered state;
    bool kept;
    std::optional<update::Ending> ending;
  };
  using update::Ending;
  const std::string Update = "flashwright-cli update";
  const std::string Station = "flashwright-cli station";
  const std::string Window = "Flashwright";
  const std::optional<std::int64_t> Unknown;
  const Case cases[] = {
      {"cut short",
       "",
       Update,
       Owner::Gone,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::Interrupted,
       true,
       {}},
      {"cut short, unplugged",
       "",
       Update,
       Owner::Gone,
       60,
       false,
       At::Absent,
       Unknown,
       Remembered::Interrupted,
       true,
       {}},
      {"cut short, unreadable since",
       "",
       Update,
       Owner::Gone,
       60,
       false,
       At::Unreadable,
       Unknown,
       Remembered::Interrupted,
       true,
       {}},
      {"cut short, another unit at the target",
       "",
       Update,
       Owner::Gone,
       60,
       false,
       At::OtherAtTarget,
       Unknown,
       Remembered::Nothing,
       true,
       {}},
      {"cut short, yet at the target", "", Update, Owner::Gone, 60, false, At::AtTarget, Unknown,
       Remembered::Nothing, false, Ending::Confirmed},
      {"still programming elsewhere",
       "",
       Update,
       Owner::Runs,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::UnderWay,
       true,
       {}},
      {"its process a week later",
       "",
       Update,
       Owner::Runs,
       8 * Day,
       false,
       At::Old,
       Unknown,
       Remembered::Nothing,
       false,
       {}},
      {"its id now another process's",
       "",
       Update,
       Owner::IdReused,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::Interrupted,
       true,
       {}},
      {"its id now this process's",
       "",
       Update,
       Owner::OurIdOnly,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::Interrupted,
       true,
       {}},
      {"programmed",
       "updated",
       Update,
       Owner::Gone,
       Day,
       false,
       At::Old,
       Unknown,
       Remembered::PendingPowerCycle,
       true,
       {}},
      {"programmed by the window",
       "updated",
       Window,
       Owner::Gone,
       Day,
       false,
       At::Old,
       Unknown,
       Remembered::PendingPowerCycle,
       true,
       {}},
      {"programmed, list not whole",
       "updated",
       Update,
       Owner::Gone,
       Day,
       false,
       At::Unlisted,
       Unknown,
       Remembered::PendingPowerCycle,
       true,
       {}},
      {"power-cycled", "updated", Update, Owner::Gone, Day, false, At::AtTarget, Unknown,
       Remembered::Nothing, false, Ending::Confirmed},
      {"unplugged: remembered",
       "updated",
       Update,
       Owner::Gone,
       Day,
       false,
       At::Absent,
       Unknown,
       Remembered::PendingPowerCycle,
       true,
       {}},
      {"back after unplugged, at the target", "updated", Update, Owner::Gone, Day, true,
       At::AtTarget, Unknown, Remembered::Nothing, false, Ending::Confirmed},
      {"back after unplugged, old version", "updated", Update, Owner::Gone, Day, true, At::Old,
       Unknown, Remembered::DidNotTake, false, Ending::DidNotTake},
      {"arrived since it ended, old version", "updated", Update, Owner::Gone, Day, false, At::Old,
       120, Remembered::DidNotTake, false, Ending::DidNotTake},
      {"arrived before it ended",
       "updated",
       Update,
       Owner::Gone,
       Day,
       false,
       At::Old,
       -120,
       Remembered::PendingPowerCycle,
       true,
       {}},
      {"another unit at its path", "updated", Update, Owner::Gone, Day, false, At::OtherUnit,
       Unknown, Remembered::Nothing, false, Ending::AnotherUnit},
      {"its identification at another version", "updated", Update, Owner::Gone, Day, false,
       At::OtherVersion, Unknown, Remembered::Nothing, false, Ending::AnotherUnit},
      {"another unit at the target", "updated", Update, Owner::Gone, Day, false, At::OtherAtTarget,
       Unknown, Remembered::Nothing, false, Ending::AnotherUnit},
      {"a device that cannot be identified",
       "updated",
       Update,
       Owner::Gone,
       Day,
       false,
       At::Unreadable,
       Unknown,
       Remembered::Nothing,
       true,
       {}},
      {"a week and more",
       "updated",
       Update,
       Owner::Gone,
       8 * Day,
       false,
       At::Old,
       Unknown,
       Remembered::Nothing,
       false,
       {}},
      {"from the future",
       "updated",
       Update,
       Owner::Gone,
       -2 * Day,
       false,
       At::Old,
       Unknown,
       Remembered::Nothing,
       false,
       {}},
      {"by the station",
       "updated",
       Station,
       Owner::Gone,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::Nothing,
       true,
       {}},
      {"by the station, verified",
       "updated",
       Station,
       Owner::Gone,
       60,
       false,
       At::AtTarget,
       Unknown,
       Remembered::Nothing,
       false,
       {}},
      {"failed",
       "failed",
       Update,
       Owner::Gone,
       60,
       false,
       At::Old,
       Unknown,
       Remembered::Nothing,
       true,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeAttemptStore store;
    platform::AttemptRecord record;
    record.path = "A";
    record.key = store.KeyOf("A");
    record.identity = "UNIT A";
    record.versionBefore = "00.01.01.05";
    record.program = c.program;
    record.process = {7, 70};
    record.outcome = c.outcome;
    record.started = store.now - c.age - 30;
    record.ended = c.outcome.empty() ? 0 : store.now - c.age;
    if (c.outcome.empty()) record.started = store.now - c.age;
    record.seenGone = c.seenGone;
    platform::AttemptRecord foreign = record;
    foreign.key = "stale A";
    foreign.outcome = "updated";
    foreign.program = Update;
    foreign.started = store.now - 90;
    foreign.ended = store.now - 60;
    foreign.seenGone = false;
    store.records = {foreign, record};
    switch (c.owner) {
      case Owner::Gone:
        break;
      case Owner::Runs:
        store.running = {{7, 70}};
        break;
      case Owner::IdReused:
        store.running = {{7, 71}};
        break;
      case Owner::OurIdOnly:
        record.process = {store.self.id, store.self.created + 1};
        store.records.back().process = record.process;
        break;
    }
    if (c.arrived) store.arrivals["A"] = record.ended + *c.arrived;

    std::vector<update::SeenDevice> seen = {{Path("B"), false, "UNIT B", "00.01.01.05"}};
    const std::map<At, update::SeenDevice> devices = {
        {At::Old, {Path("A"), false, "UNIT A", "00.01.01.05"}},
        {At::AtTarget, {Path("A"), true, "UNIT A", "00.01.01.07"}},
        {At::OtherUnit, {Path("A"), false, "OTHER", "00.01.01.03"}},
        {At::OtherVersion, {Path("A"), false, "UNIT A", "00.01.01.03"}},
        {At::OtherAtTarget, {Path("A"), true, "OTHER", "00.01.01.07"}},
        {At::Unreadable, {Path("A"), false, "", "00.01.01.05"}}};
    if (const auto device = devices.find(c.at); device != devices.end()) {
      seen.push_back(device->second);
    }
    update::Attempts attempts(store, update::Program::Update);
    const auto ended = attempts.Review(seen, c.at != At::Unlisted);
    EXPECT_EQ(attempts.StateOf(Path("A")), c.state);
    EXPECT_EQ(attempts.UnderWayElsewhere(), c.state == Remembered::UnderWay);
    EXPECT_EQ(attempts.StateOf(Path("B")), Remembered::Nothing);
    ASSERT_EQ(ended.size(), c.ending ? 1u : 0u);
    if (c.ending) {
      EXPECT_EQ(ended.front().why, *c.ending);
      EXPECT_EQ(ended.front().record.key, record.key);
      EXPECT_EQ(ended.front().version, seen.back().version);
    }
    const auto kept = std::find_if(store.records.begin(), store.records.end(),
                                   [&](const auto& kept) { return kept.key == record.key; });
    ASSERT_EQ(kept != store.records.end(), c.kept);
    if (c.kept) {
      // Unplugged after a successful programming: remembered, to judge the unit when it is back.
      EXPECT_EQ(kept->seenGone, c.seenGone || (c.at == At::Absent && c.outcome == "updated" &&
                                               c.program != Station));
    }
    const auto stale = std::find_if(store.records.begin(), store.records.end(),
                                    [&](const auto& kept) { return kept.key == "stale A"; });
    ASSERT_NE(stale, store.records.end()) << "the record under a foreign name was removed";
    EXPECT_EQ(stale->seenGone, false);
    EXPECT_EQ(store.records.size(), c.kept ? 2u : 1u);
  }
}

// The intent is on record while the call runs, and counts as nothing for the program writing it;
// a new attempt replaces the device's earlier record.
TEST(Attempts, BeginAndEndReplaceTheDevicesRecord) {
  fakes::FakeAttemptStore store;
  platform::AttemptRecord earlier;
  earlier.path = "A";
  earlier.key = store.KeyOf("A");
  earlier.identity = "SIMDEV";
  earlier.versionBefore = "00.01.01.05";
  earlier.outcome = "updated";
  earlier.ended = store.now - 60;
  earlier.program = "Flashwright";
  store.records = {earlier};
  update::Attempts attempts(store, update::Program::Update);
  attempts.Review({{Path("A"), false, "SIMDEV", "00.01.01.05"}}, true);
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
