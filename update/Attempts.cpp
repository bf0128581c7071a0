// The attempt records' rules; see Attempts.h.
#include "update/Attempts.h"

#include <algorithm>
#include <cstring>

namespace update {
namespace {

constexpr std::string_view Updated = "updated";
constexpr std::string_view Failed = "failed";

std::string PathText(const updatelib::DevicePath& path) {
  return std::string(path.data(), strnlen(path.data(), path.size()));
}

// A record written later than a day from now has a clock behind it that cannot be trusted.
constexpr std::int64_t ClockSkewSeconds = std::int64_t{24} * 60 * 60;

}  // namespace

std::string_view ProgramName(Program program) {
  switch (program) {
    case Program::Window:
      return "Flashwright";
    case Program::Update:
      return "flashwright-cli update";
    case Program::Station:
      return "flashwright-cli station";
  }
  return "Flashwright";
}

std::vector<Ended> Attempts::Review(const std::vector<SeenDevice>& attached, bool complete) {
  records_.clear();
  didNotTake_.clear();
  const std::int64_t now = store_.Now();
  std::vector<Ended> ended;
  for (platform::AttemptRecord& record : store_.Load()) {
    // Not written there by Save: a stale or planted record, which neither speaks of a device nor
    // is removed (removing by its path would remove the device's own record).
    if (record.key != store_.KeyOf(record.path)) continue;
    const auto seen = std::find_if(attached.begin(), attached.end(), [&](const SeenDevice& device) {
      return PathText(device.path) == record.path;
    });
    const SeenDevice* device = seen == attached.end() ? nullptr : &*seen;
    const Judgement judgement = Judge(record, device, complete, now);
    if (judgement.ending) {
      ended.push_back({record, *judgement.ending, device ? device->identity : std::string(),
                       device ? device->version : std::string()});
      if (*judgement.ending == Ending::DidNotTake) didNotTake_.push_back(record);
    }
    if (judgement.remove) {
      store_.Remove(record.key);
    } else if (judgement.applies) {
      records_.push_back(std::move(record));
    }
  }
  return ended;
}

Attempts::Judgement Attempts::Judge(platform::AttemptRecord& record, const SeenDevice* seen,
                                    bool complete, std::int64_t now) {
  const bool running = record.outcome.empty();
  const std::int64_t at = running ? record.started : record.ended;
  const bool expired = now - at > RecordLifetimeSeconds || at - now > ClockSkewSeconds;
  Judgement judgement;
  auto end = [&](Ending why) {
    judgement.remove = true;
    judgement.ending = why;
    return judgement;
  };
  if (RunsElsewhere(record) && !expired) {
    // Another program is programming the device right now; its record is its own. (A record
    // older than any programming takes is not: its process id now names another process.)
    return judgement;
  }
  if (expired) {
    judgement.remove = true;
    return judgement;
  }
  const bool known = seen != nullptr && !seen->identity.empty();
  const bool sameUnit = known && seen->identity == record.identity;
  if (running) {
    if (sameUnit && seen->atTarget) return end(Ending::Confirmed);
    judgement.applies = seen == nullptr || !known || sameUnit;
    return judgement;
  }
  if (!LeavesPending(record)) {
    // Nothing pending: failed, or the station's. It has said all it can once its device reports
    // the target or is gone.
    judgement.remove = seen != nullptr ? seen->atTarget : complete;
    return judgement;
  }
  if (seen == nullptr) {
    if (complete && !record.seenGone) {
      // Unplugged, so powered off: what the unit reports when it is back tells whether the update
      // took. A record that cannot be kept so is judged as before (the unit then reads pending).
      record.seenGone = true;
      if (!store_.Save(record).empty()) record.seenGone = false;
    }
    return judgement;
  }
  if (!known) {
    judgement.applies = false;
    return judgement;
  }
  if (!sameUnit) return end(Ending::AnotherUnit);
  if (seen->atTarget) return end(Ending::Confirmed);
  if (seen->version != record.versionBefore) return end(Ending::AnotherUnit);
  if (record.seenGone) return end(Ending::DidNotTake);
  // Where the system can tell: back (powered on) since the programming ended, at the old version.
  const std::optional<std::int64_t> arrived = store_.LastArrival(record.path);
  if (arrived && *arrived > record.ended) return end(Ending::DidNotTake);
  return judgement;
}

bool Attempts::Ours(const platform::AttemptRecord& record) const {
  const platform::ProcessIdentity self = store_.Self();
  return record.process.id == self.id && record.process.created == self.created;
}

bool Attempts::RunsElsewhere(const platform::AttemptRecord& record) const {
  return record.outcome.empty() && !Ours(record) && store_.Running(record.process);
}

bool Attempts::UnderWayElsewhere() const {
  // Read afresh: the window asks before it has reviewed anything in this scan.
  const std::vector<platform::AttemptRecord> records = store_.Load();
  return std::any_of(records.begin(), records.end(),
                     [&](const platform::AttemptRecord& record) { return RunsElsewhere(record); });
}

std::optional<platform::AttemptRecord> Attempts::ProgrammedElsewhere(
    const SeenDevice& device, std::int64_t withinSeconds) const {
  const std::string path = PathText(device.path);
  const std::int64_t now = store_.Now();
  std::optional<platform::AttemptRecord> latest;
  for (platform::AttemptRecord& record : store_.Load()) {
    if (record.path != path || !Succeeded(record) || record.program == ProgramName(program_) ||
        device.identity.empty() || record.identity != device.identity ||
        record.versionBefore != device.version || record.ended > now ||
        now - record.ended >= withinSeconds || (latest && latest->ended >= record.ended)) {
      continue;
    }
    latest = std::move(record);
  }
  return latest;
}

bool Succeeded(const platform::AttemptRecord& record) { return record.outcome == Updated; }

bool Attempts::LeavesPending(const platform::AttemptRecord& record) {
  // The station keeps its own account of units, which all look alike: its records leave nothing
  // pending.
  return Succeeded(record) && record.program != ProgramName(Program::Station);
}

const platform::AttemptRecord* Attempts::RecordOf(const updatelib::DevicePath& path) const {
  const std::string text = PathText(path);
  for (const auto* list : {&records_, &didNotTake_}) {
    for (const platform::AttemptRecord& record : *list) {
      if (record.path == text) return &record;
    }
  }
  return nullptr;
}

Remembered Attempts::StateOf(const updatelib::DevicePath& path) const {
  const std::string text = PathText(path);
  if (std::any_of(didNotTake_.begin(), didNotTake_.end(),
                  [&](const platform::AttemptRecord& record) { return record.path == text; })) {
    return Remembered::DidNotTake;
  }
  const platform::AttemptRecord* record = RecordOf(path);
  if (record == nullptr) return Remembered::Nothing;
  if (record->outcome.empty()) {
    if (Ours(*record)) return Remembered::Nothing;
    return RunsElsewhere(*record) ? Remembered::UnderWay : Remembered::Interrupted;
  }
  return LeavesPending(*record) ? Remembered::PendingPowerCycle : Remembered::Nothing;
}

void Attempts::Begin(const updatelib::DevicePath& path, std::string_view identity,
                     std::string_view versionBefore) {
  platform::AttemptRecord record;
  record.path = PathText(path);
  record.identity = std::string(identity);
  record.versionBefore = std::string(versionBefore);
  record.program = std::string(ProgramName(program_));
  record.process = store_.Self();
  record.started = store_.Now();
  record.key = store_.KeyOf(record.path);
  const std::string error = store_.Save(record);
  if (!error.empty()) {
    throw RecordFailure("cannot record the programming attempt: " + error);
  }
  current_ = record;
  // The new attempt is the device's one record.
  for (auto* list : {&records_, &didNotTake_}) {
    std::erase_if(*list, [&](const auto& kept) { return kept.path == record.path; });
  }
  records_.push_back(record);
}

std::string Attempts::End(bool updated) {
  if (!current_) return {};
  platform::AttemptRecord record = *current_;
  current_.reset();
  record.outcome = std::string(updated ? Updated : Failed);
  record.ended = store_.Now();
  for (platform::AttemptRecord& kept : records_) {
    if (kept.path == record.path) kept = record;
  }
  return store_.Save(record);
}

}  // namespace update
