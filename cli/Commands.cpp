// The commands status, update and station; see Cli.h.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "device/Scan.h"
#include "platform/UniqueResource.h"
#include "update/UpdateRun.h"
#include "updatelib/Gateway.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

constexpr std::string_view Target = device::TargetFirmwareVersion;
// How long the station waits for a device change before it looks again anyway, and how quiet the
// changes must have been before it looks: the window's rescan delay.
constexpr std::chrono::milliseconds StationPoll{5000};
constexpr std::chrono::milliseconds Settle{device::RescanDelay};

std::string TextOf(const char* buffer, std::size_t size) {
  return std::string(buffer, strnlen(buffer, size));
}

// Every document and log line: ASCII only (\u escapes), so no console or shell code page can
// garble it, and a byte that is not UTF-8 (which the converted text never has) cannot throw.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', true, Json::error_handler_t::replace);
}

// UTF-8 text for a line of the text output: a control character (a newline inside an
// identification, an escape sequence) would break the line or drive the terminal, so it shows as
// U+FFFD.
std::string Printable(const std::string& text) {
  std::string printable;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      printable += "\xEF\xBF\xBD";
    } else {
      printable += c;
    }
  }
  // C1 controls (U+0080..U+009F, UTF-8 C2 80..C2 9F) likewise.
  for (std::size_t at = printable.find('\xC2'); at != std::string::npos;
       at = printable.find('\xC2', at + 1)) {
    if (at + 1 < printable.size() && static_cast<unsigned char>(printable[at + 1]) < 0xA0) {
      printable.replace(at, 2, "\xEF\xBF\xBD");
    }
  }
  return printable;
}

// `text` (UTF-8) padded with spaces to `width` characters, so that columns line up whatever the
// bytes per character.
std::string PadRight(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

// The state words of a listed device, one for each outcome of its checks.
const char* StateName(const device::DeviceCheck& check) {
  using device::ScanOutcome;
  switch (check.outcome) {
    case ScanOutcome::UnsupportedChip:
      return "unsupported-chip";
    case ScanOutcome::WrongCodeMode:
      return "internal-code";
    case ScanOutcome::VersionReadFailed:
      return "version-read-failed";
    case ScanOutcome::ImageMismatch:
      return "image-mismatch";
    case ScanOutcome::IdentityFailed:
      return "identity-failed";
    case ScanOutcome::UpdateRequired:
      return "update-required";
    case ScanOutcome::UpToDate:
      return "up-to-date";
    case ScanOutcome::NoDevice:
    case ScanOutcome::MultipleDevices:
      break;  // what a scan of several devices concludes, never one device's state
  }
  return "unsupported-chip";
}

bool NeedsUpdate(const device::DeviceCheck& check) { return device::NeedsUpdate(check.outcome); }
bool Updatable(const device::DeviceCheck& check) { return device::Updatable(check.outcome); }

// One attached device as the commands report it.
struct Entry {
  int index = 0;  // 1-based slot of the library's list
  device::DevicePath path{};
  device::DeviceCheck check;
  std::optional<std::string> result;  // what the command did with it
  long long durationMs = 0;

  // The library's bytes, as it gave them (the path is handed back to it).
  std::string Identity() const {
    return check.identity ? TextOf(check.identity->data(), check.identity->size()) : "";
  }
  std::string Firmware() const {
    return check.firmware ? TextOf(check.firmware->data(), check.firmware->size()) : "";
  }
};

// The library's texts of an entry converted from its code page, for output.
struct EntryText {
  std::string path, identity, firmware;
  EntryText(const Entry& entry, platform::Console& console)
      : path(console.FromAnsi(TextOf(entry.path.data(), entry.path.size()))),
        identity(console.FromAnsi(entry.Identity())),
        firmware(console.FromAnsi(entry.Firmware())) {}
};

Json ToJson(const Entry& entry, platform::Console& console) {
  auto orNull = [](const auto& value) { return value ? Json(*value) : Json(nullptr); };
  const EntryText text(entry, console);
  Json json = {{"index", entry.index},
               {"path", text.path},
               {"identity", entry.check.identity ? Json(text.identity) : Json(nullptr)},
               {"chipType", orNull(entry.check.chipType)},
               {"runningMode", orNull(entry.check.runningMode)},
               {"firmware", entry.check.firmware ? Json(text.firmware) : Json(nullptr)},
               {"state", StateName(entry.check)}};
  if (entry.result) {
    json["result"] = *entry.result;
    json["durationMs"] = entry.durationMs;
  }
  return json;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now)) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  return text;
}

class Session {
 public:
  Session(const Options& options, const Services& services)
      : options_(options),
        services_(services),
        console_(services.console),
        library_(services.faults) {}

  int Run() {
    try {
      if (!console_.IsElevated()) {
        return Finish(NotElevated,
                      "administrator rights are needed: run flashwright-cli from an elevated "
                      "prompt");
      }
      library_.Load(services_.modules);
      if (!library_.Bound()) {
        return Finish(LibraryMissing,
                      "the update library ZRFWUpdateDll.dll beside flashwright-cli.exe is missing "
                      "or incomplete");
      }
      updatelib::ConfigureUpdateLibrary(library_);
      switch (options_.command) {
        case Command::Status:
          return Status();
        case Command::Update:
          return Update();
        case Command::Station:
          return Station();
      }
    } catch (const std::exception& error) {
      return Finish(ProgrammingFailed, error.what());
    }
    return Finish(ProgrammingFailed, "unknown command");
  }

 private:
  const char* CommandName() const {
    switch (options_.command) {
      case Command::Status:
        return "status";
      case Command::Update:
        return "update";
      case Command::Station:
        return "station";
    }
    return "";
  }

  // Every usable device of the library's list, checked in the scan's order.
  std::vector<Entry> Inspect() {
    const device::DeviceList list = device::ListDevices(library_);
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < list.listed; ++i) {
      if (!list.usable[i]) continue;
      Entry entry;
      entry.index = static_cast<int>(i) + 1;
      entry.path = list.paths[i];
      entry.check = device::CheckDevice(library_, entry.path);
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  // The end of a status or update run: the document or the text, and the exit code. Output that
  // cannot be made or written is told on standard error and leaves the exit code as it is.
  int Finish(int exitCode, const std::string& error = {}) {
    try {
      if (options_.json) {
        Json document = {{"command", CommandName()},
                         {"target", Target},
                         {"exitCode", exitCode},
                         {"devices", Json::array()}};
        for (const Entry& entry : entries_) document["devices"].push_back(ToJson(entry, console_));
        if (!error.empty()) document["error"] = {{"message", error}};
        Output(Dump(document) + "\n");
      } else if (!error.empty()) {
        console_.Err("flashwright-cli: " + error + "\n");
      }
    } catch (const std::exception& failure) {
      OutputFailed(failure.what());
    }
    return exitCode;
  }

  // Writes to standard output; a failure is told on standard error.
  void Output(const std::string& text) {
    if (!console_.Out(text)) OutputFailed("writing failed");
  }
  void OutputFailed(const std::string& why) {
    console_.Err("flashwright-cli: cannot write the output: " + why +
                 " (the exit code still tells the result)\n");
  }

  void PrintTable() {
    if (options_.json) return;
    std::string text = "Target firmware " + std::string(Target) + "\n";
    auto row = [&](const std::string& index, const std::string& identity, const std::string& chip,
                   const std::string& mode, const std::string& firmware, const std::string& state) {
      text += PadRight(index, 3) + " " + PadRight(identity, 26) + " " + PadRight(chip, 5) + " " +
              PadRight(mode, 5) + " " + PadRight(firmware, 13) + " " + state + "\n";
    };
    row("#", "Identification", "Chip", "Mode", "Firmware", "State");
    for (const Entry& entry : entries_) {
      auto number = [](const std::optional<std::int32_t>& value) {
        return value ? std::to_string(*value) : std::string("-");
      };
      const EntryText converted(entry, console_);
      row(std::to_string(entry.index), Printable(converted.identity), number(entry.check.chipType),
          number(entry.check.runningMode),
          entry.check.firmware ? Printable(converted.firmware) : "-", StateName(entry.check));
    }
    Output(text);
  }

  // The identification for a line of text.
  std::string Identity(const Entry& entry) {
    return Printable(console_.FromAnsi(entry.Identity()));
  }

  int Status() {
    entries_ = Inspect();
    PrintTable();
    if (entries_.empty()) return Finish(NoDevice, "no compatible device is attached");
    bool needsUpdate = false, notUpdatable = false;
    for (const Entry& entry : entries_) {
      needsUpdate = needsUpdate || NeedsUpdate(entry.check);
      notUpdatable = notUpdatable || !Updatable(entry.check);
    }
    return Finish(needsUpdate ? UpdateNeeded : notUpdatable ? NotUpdatable : Success);
  }

  // Appends the attempt to the log; a log that cannot be written is told, and changes nothing.
  // `versionBefore` is the library's text.
  void Log(const Entry& entry, const std::string& versionBefore) {
    if (options_.logFile.empty()) return;
    std::string error;
    try {
      const EntryText text(entry, console_);
      const Json line = {{"time", UtcNow()},
                         {"computer", console_.ComputerName()},
                         {"identity", text.identity},
                         {"path", text.path},
                         {"versionBefore", console_.FromAnsi(versionBefore)},
                         {"result", entry.result.value_or("")},
                         {"durationMs", entry.durationMs}};
      error = console_.AppendLine(options_.logFile, Dump(line));
    } catch (const std::exception& failure) {
      error = failure.what();
    }
    if (!error.empty()) {
      console_.Err("flashwright-cli: cannot write the log " + options_.logFile + ": " + error +
                   " (the device's result stands)\n");
    }
  }

  // Programs one checked device that needs the update; its result and duration go to `entry`.
  update::UpdateOutcome Program(Entry& entry) {
    console_.SetInterrupts(platform::Console::Interrupts::Ignore,
                           "Ctrl+C ignored: the device is being programmed. Do not unplug it.\n");
    const platform::ScopeExit allowInterrupts([&] {
      console_.SetInterrupts(options_.command == Command::Station
                                 ? platform::Console::Interrupts::Note
                                 : platform::Console::Interrupts::End);
    });
    console_.Err("Device " + std::to_string(entry.index) + " (" + Identity(entry) +
                 "): programming " + std::string(Target) +
                 ". Do not unplug the device or switch it off.\n");
    const auto started = Clock::now();
    console_.BeginProgress("Programming");
    update::UpdateOutcome outcome = update::UpdateOutcome::Failed;
    {
      const platform::ScopeExit endProgress([&] { console_.EndProgress(); });
      const platform::ScopeExit timed([&] {
        entry.durationMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
      });
      try {
        outcome = update::ProgramDevice(library_, entry.path, services_.sleepAndShutdown,
                                        services_.programmingLock);
      } catch (...) {
        entry.result = "failed";
        throw;
      }
    }
    entry.result = outcome == update::UpdateOutcome::Updated  ? "updated"
                   : outcome == update::UpdateOutcome::Locked ? "skipped"
                                                              : "failed";
    return outcome;
  }

  // The exit code of one device's update, worst first: 1, 5, 3010, 0.
  static int Severity(int code) {
    switch (code) {
      case ProgrammingFailed:
        return 3;
      case NotUpdatable:
        return 2;
      case Updated:
        return 1;
      default:
        return 0;
    }
  }

  int Update() {
    entries_ = Inspect();
    if (entries_.empty()) return Finish(NoDevice, "no compatible device is attached");
    std::vector<Entry*> chosen;
    if (options_.all) {
      for (Entry& entry : entries_) chosen.push_back(&entry);
    } else if (options_.device) {
      for (Entry& entry : entries_) {
        if (entry.index == *options_.device) chosen.push_back(&entry);
      }
      if (chosen.empty()) {
        return Finish(Usage, "there is no device " + std::to_string(*options_.device) +
                                 " (run status to see the devices)");
      }
    } else if (entries_.size() > 1) {
      return Finish(SeveralDevices,
                    std::to_string(entries_.size()) +
                        " devices are attached: choose one with --device N, or --all");
    } else {
      chosen.push_back(&entries_.front());
    }
    for (Entry& entry : entries_) entry.result = "skipped";

    int worst = Success;
    std::string error;
    for (Entry* entry : chosen) {
      const std::string versionBefore = entry->Firmware();
      int code = Success;
      if (!Updatable(entry->check)) {
        entry->result = "not-updatable";
        code = NotUpdatable;
      } else if (!NeedsUpdate(entry->check)) {
        entry->result = "up-to-date";
      } else {
        update::UpdateOutcome outcome;
        try {
          outcome = Program(*entry);
        } catch (...) {
          Log(*entry, versionBefore);
          throw;
        }
        if (outcome == update::UpdateOutcome::Locked) {
          return Finish(Locked, "another Flashwright program is programming a device right now");
        }
        code = outcome == update::UpdateOutcome::Updated ? Updated : ProgrammingFailed;
      }
      Log(*entry, versionBefore);
      if (!options_.json) Output(ResultLine(*entry));
      if (Severity(code) > Severity(worst)) worst = code;
    }
    if (worst == ProgrammingFailed) error = "programming failed";
    return Finish(worst, error);
  }

  std::string ResultLine(const Entry& entry) {
    std::string line = "Device " + std::to_string(entry.index) + " (" + Identity(entry) + "): ";
    const std::string& result = *entry.result;
    if (result == "updated") {
      line += "updated to " + std::string(Target) + "; power-cycle it to run the new firmware.";
    } else if (result == "up-to-date") {
      line += "already at " + std::string(Target) + ".";
    } else if (result == "not-updatable") {
      line += std::string("cannot be updated (") + StateName(entry.check) + ").";
    } else {
      line += "update failed.";
    }
    return line + "\n";
  }

  // ---- station ----------------------------------------------------------------------------

  // Lists the devices until `done` says so, waiting for device changes between looks; false at
  // a Ctrl+C.
  template <class Done>
  bool WaitForDevices(Done&& done, const std::string& prompt) {
    bool prompted = false;
    for (;;) {
      std::vector<Entry> entries = Inspect();
      if (done(entries)) {
        entries_ = std::move(entries);
        return true;
      }
      if (!prompted && !prompt.empty()) console_.Err(prompt);
      prompted = true;
      if (console_.WaitForDeviceChange(Settle, StationPoll) ==
              platform::Console::DeviceWait::Interrupted ||
          console_.InterruptRequested()) {
        return false;
      }
    }
  }

  // Waits for exactly one device; several ask for the others to go. False at a Ctrl+C.
  bool WaitForOneDevice() {
    bool severalTold = false;
    return WaitForDevices(
        [&](const std::vector<Entry>& entries) {
          if (entries.size() > 1 && !severalTold) {
            console_.Err("Several devices are attached: unplug all but one.\n");
            severalTold = true;
          }
          return entries.size() == 1;
        },
        "Waiting for a device...\n");
  }

  bool WaitForDeviceGone(const device::DevicePath& path, const std::string& prompt) {
    return WaitForDevices(
        [&](const std::vector<Entry>& entries) {
          for (const Entry& entry : entries) {
            if (entry.path == path) return false;
          }
          return true;
        },
        prompt);
  }

  bool WaitForPowerCycle() {
    console_.Err("Programmed. Power-cycle the device now.\n");
    for (;;) {
      switch (console_.WaitForDeviceChange(Settle, StationPoll)) {
        case platform::Console::DeviceWait::Changed:
          return true;
        case platform::Console::DeviceWait::Interrupted:
          return false;
        case platform::Console::DeviceWait::TimedOut:
          if (console_.InterruptRequested()) return false;
          break;
      }
    }
  }

  // How a unit left the station.
  enum class Verdict {
    Passed,
    Failed,
    Unverified,  // programmed, then Ctrl+C before its power cycle was checked
  };

  void StationLine(const Entry& entry, Verdict verdict, const std::string& why) {
    try {
      if (options_.json) {
        const int exitCode = verdict == Verdict::Passed   ? Success
                             : verdict == Verdict::Failed ? ProgrammingFailed
                                                          : Updated;
        Json line = {{"command", "station"},
                     {"target", Target},
                     {"exitCode", exitCode},
                     {"devices", Json::array({ToJson(entry, console_)})}};
        if (verdict != Verdict::Passed) line["error"] = {{"message", why}};
        Output(Dump(line) + "\n");
      } else {
        const char* word = verdict == Verdict::Passed   ? "PASS  "
                           : verdict == Verdict::Failed ? "FAIL  "
                                                        : "NOT VERIFIED  ";
        Output(word + Identity(entry) + "  " + why + "\n");
      }
    } catch (const std::exception& failure) {
      OutputFailed(failure.what());
    }
  }

  // One device at the station, from its check to its verdict. A programming attempt is logged
  // as soon as it has ended, before the wait for the power cycle; the check after it is a second
  // line.
  Verdict StationDevice() {
    Entry entry = entries_.front();
    const std::string versionBefore = entry.Firmware();
    const auto started = Clock::now();
    auto finish = [&](Verdict verdict, const std::string& result, const std::string& why) {
      entry.result = result;
      entry.durationMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
      Log(entry, versionBefore);
      StationLine(entry, verdict, why);
      return verdict;
    };
    if (!Updatable(entry.check)) {
      return finish(Verdict::Failed, "not-updatable",
                    std::string("cannot be updated: ") + StateName(entry.check));
    }
    if (!NeedsUpdate(entry.check)) {
      return finish(Verdict::Passed, "up-to-date", "already at " + std::string(Target));
    }
    update::UpdateOutcome outcome;
    try {
      outcome = Program(entry);
    } catch (...) {
      Log(entry, versionBefore);
      throw;
    }
    if (outcome != update::UpdateOutcome::Updated) {
      return finish(Verdict::Failed, "failed",
                    outcome == update::UpdateOutcome::Locked
                        ? "another Flashwright program is programming a device"
                        : "programming failed");
    }
    Log(entry, versionBefore);
    // The new firmware runs after a power cycle: once the device has gone and come back (as
    // device changes tell; a quick one may never show it missing from a list), it is checked.
    if (!WaitForPowerCycle() || !WaitForOneDevice()) {
      StationLine(entry, Verdict::Unverified,
                  "programmed, not verified: stopped before its power cycle was checked");
      return Verdict::Unverified;
    }
    Entry again = entries_.front();
    again.index = entry.index;
    entry.check = again.check;
    if (Updatable(entry.check) && !NeedsUpdate(entry.check)) {
      return finish(Verdict::Passed, "verified", std::string(Target) + " verified");
    }
    return finish(Verdict::Failed, "failed",
                  "after the power cycle the device reports " +
                      Printable(console_.FromAnsi(entry.Firmware())));
  }

  // Each unit that reached a verdict counts as done, a programmed one that was not verified
  // included; the exit code is the worst verdict: 1 for a failure, else 3010 for an unverified
  // unit (it needs its power cycle and a check), else 0.
  int Station() {
    console_.SetInterrupts(platform::Console::Interrupts::Note);
    int done = 0;
    bool anyFailed = false;
    bool unverified = false;
    while (!options_.count || done < *options_.count) {
      if (!WaitForOneDevice()) break;
      const Verdict verdict = StationDevice();
      ++done;
      anyFailed = anyFailed || verdict == Verdict::Failed;
      if (verdict == Verdict::Unverified) {
        unverified = true;
        break;
      }
      if (options_.count && done >= *options_.count) break;
      if (!WaitForDeviceGone(entries_.front().path, "Unplug the device and plug in the next.\n")) {
        break;
      }
    }
    if (!options_.json) {
      console_.Err(std::to_string(done) + " device(s) done" + (anyFailed ? ", some failed" : "") +
                   (unverified ? ", the last one programmed but not verified: power-cycle it and "
                                 "check it with status"
                               : "") +
                   ".\n");
    }
    return anyFailed ? ProgrammingFailed : unverified ? Updated : Success;
  }

  const Options& options_;
  const Services& services_;
  platform::Console& console_;
  updatelib::LibraryGateway library_;
  std::vector<Entry> entries_;
};

}  // namespace

int Run(const Options& options, const Services& services) {
  Session session(options, services);
  return session.Run();
}

int Main(const std::vector<std::string>& arguments, const Services& services) {
  std::string version = "unknown";
  if (const auto fileVersion = services.versionRecord.ReadOwnFileVersion()) {
    version = std::to_string(fileVersion->mostSignificant >> 16) + "." +
              std::to_string(fileVersion->mostSignificant & 0xFFFF) + "." +
              std::to_string(fileVersion->leastSignificant >> 16) + "." +
              std::to_string(fileVersion->leastSignificant & 0xFFFF);
  }
  const CommandLine commandLine = ParseCommandLine(arguments, version);
  if (!commandLine.options) {
    if (commandLine.exitCode == Success) {
      services.console.Out(commandLine.text);
    } else if (commandLine.json) {
      services.console.Out(UsageErrorDocument(commandLine.text));
    } else {
      services.console.Err("flashwright-cli: " + commandLine.text + "\n");
    }
    return commandLine.exitCode;
  }
  return Run(*commandLine.options, services);
}

}  // namespace cli
