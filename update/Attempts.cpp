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

std::vector<Confirmed> Attempts::Review(const std::vector<SeenDevice>& attached, bool complete) {
  records_ = store_.Load();
  const std::int64_t now = store_.Now();
  std::vector<Confirmed> confirmed;
  std::vector<platform::AttemptRecord> kept;
  for (platform::AttemptRecord& record : records_) {
    const auto seen = std::find_if(attached.begin(), attached.end(), [&](const SeenDevice& device) {
      return PathText(device.path) == record.path;
    });
    const bool running = record.outcome.empty();
    const std::int64_t at = running ? record.started : record.ended;
    const bool expired = now - at > RecordLifetimeSeconds || at - now > ClockSkewSeconds;
    const bool atTarget = seen != attached.end() && seen->atTarget;
    bool ends = false;
    if (UnderWayElsewhere(record) && !expired) {
      // Another program is programming the device right now; its record is its own. (A record
      // older than any programming takes is not: its process id now names another process.)
    } else if (atTarget && (running || LeavesPending(record))) {
      confirmed.push_back({record});
      ends = true;
    } else {
      ends = expired || (!running && (atTarget || (complete && seen == attached.end())));
    }
    if (ends) {
      store_.Remove(record.path);
    } else {
      kept.push_back(std::move(record));
    }
  }
  records_ = std::move(kept);
  return confirmed;
}

bool Attempts::Ours(const platform::AttemptRecord& record) const {
  const platform::ProcessIdentity self = store_.Self();
  return record.process.id == self.id && record.process.created == self.created;
}

bool Attempts::UnderWayElsewhere(const platform::AttemptRecord& record) const {
  return record.outcome.empty() && !Ours(record) && store_.Running(record.process);
}

bool Attempts::UnderWayElsewhere() const {
  const std::vector<platform::AttemptRecord> records = store_.Load();
  return std::any_of(records.begin(), records.end(), [&](const platform::AttemptRecord& record) {
    return UnderWayElsewhere(record);
  });
}

bool Attempts::LeavesPending(const platform::AttemptRecord& record) {
  // The station keeps its own account of units, which all look alike: its records leave nothing
  // pending.
  return record.outcome == Updated && record.program != ProgramName(Program::Station);
}

const platform::AttemptRecord* Attempts::RecordOf(const updatelib::DevicePath& path) const {
  const std::string text = PathText(path);
  for (const platform::AttemptRecord& record : records_) {
    if (record.path == text) return &record;
  }
  return nullptr;
}

Remembered Attempts::StateOf(const updatelib::DevicePath& path) const {
  const platform::AttemptRecord* record = RecordOf(path);
  if (record == nullptr) return Remembered::Nothing;
  if (record->outcome.empty()) {
    return Ours(*record) || UnderWayElsewhere(*record) ? Remembered::Nothing
                                                       : Remembered::Interrupted;
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
  const std::string error = store_.Save(record);
  if (!error.empty()) {
    throw RecordFailure("cannot record the programming attempt: " + error);
  }
  current_ = record;
  records_.erase(std::remove_if(records_.begin(), records_.end(),
                                [&](const auto& kept) { return kept.path == record.path; }),
                 records_.end());
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
