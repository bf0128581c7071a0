// The attached devices as the commands see them: the library's list checked device by device, an
// entry's texts, and what the attempt records say of each entry. See Devices.h.
#include "cli/Devices.h"

#include <cstring>

namespace cli {
namespace {

std::string TextOf(const char* buffer, std::size_t size) {
  return std::string(buffer, strnlen(buffer, size));
}

}  // namespace

std::string Entry::Identity() const {
  return check.identity ? TextOf(check.identity->data(), check.identity->size()) : "";
}
std::string Entry::Firmware() const {
  return check.firmware ? TextOf(check.firmware->data(), check.firmware->size()) : "";
}

std::vector<Entry> Inspect(updatelib::LibraryGateway& library, bool* complete) {
  const device::DeviceList list = device::ListDevices(library);
  std::vector<Entry> entries;
  if (complete) *complete = list.count >= 0 && list.count <= static_cast<int>(list.paths.size());
  for (std::size_t i = 0; i < list.listed; ++i) {
    if (!list.usable[i]) {
      if (complete) *complete = false;
      continue;
    }
    Entry entry;
    entry.index = static_cast<int>(i) + 1;
    entry.path = list.paths[i];
    entry.check = device::CheckDevice(library, entry.path);
    entries.push_back(entry);
  }
  return entries;
}

std::vector<update::Ended> Review(std::vector<Entry>& entries, update::Attempts& attempts,
                                  bool complete) {
  std::vector<update::SeenDevice> seen;
  seen.reserve(entries.size());
  for (const Entry& entry : entries) {
    seen.push_back({entry.path, entry.check.outcome == device::ScanOutcome::UpToDate,
                    entry.Identity(), entry.Firmware()});
  }
  std::vector<update::Ended> ended = attempts.Review(seen, complete);
  for (Entry& entry : entries) {
    entry.remembered = attempts.StateOf(entry.path);
    if (const platform::AttemptRecord* record = attempts.RecordOf(entry.path)) {
      entry.record = *record;
    }
  }
  return ended;
}

}  // namespace cli
