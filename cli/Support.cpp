// The support commands; see Support.h.
#include "cli/Support.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/Privacy.h"
#include "cli/Session.h"
#include "cli/ZipArchive.h"

namespace cli {
namespace {

// Standard output kept aside, standard error passed on: status's document, for the archive.
class CapturedOutput final : public platform::ConsoleOutput {
 public:
  explicit CapturedOutput(platform::ConsoleOutput& real) : real_(real) {}
  bool Out(std::string_view text) override {
    captured_ += text;
    return true;
  }
  bool Err(std::string_view text) override { return real_.Err(text); }
  std::string FromAnsi(std::string_view bytes) override { return real_.FromAnsi(bytes); }
  Screen ErrorScreen() override { return real_.ErrorScreen(); }
  void Beep() override { real_.Beep(); }
  const std::string& Captured() const { return captured_; }

 private:
  platform::ConsoleOutput& real_;
  std::string captured_;
};

// `status --json` run here, through the same session as the command: its document and exit code.
std::pair<std::string, int> StatusDocument(const Services& services) {
  Options status;
  for (const CommandRow& row : CommandTable()) {
    if (row.name == "status") status.command = &row;
  }
  status.json = true;
  CapturedOutput output(services.output);
  const Services captured{services.modules,
                          services.faults,
                          services.versionRecord,
                          services.sleepAndShutdown,
                          services.programmingLock,
                          services.attempts,
                          output,
                          services.progress,
                          services.interrupts,
                          services.deviceChanges,
                          services.elevation,
                          services.log,
                          services.events,
                          services.files,
                          services.input,
                          services.support,
                          services.consoleUser,
                          services.status};
  Session session(status, captured);
  const int code = session.Run();
  return {output.Captured(), code};
}

}  // namespace

std::string NothingRecordedBecause(platform::SupportDesk& desk) {
  if (const std::string refusal = desk.RecorderRefusal(); !refusal.empty()) {
    return "the recorder cannot be used: " + refusal;
  }
  if (const std::string refusal = desk.RecordingsFolderRefusal(); !refusal.empty()) {
    return "the recordings folder cannot be used: " + refusal;
  }
  return {};
}

namespace {

ExitCode Record(bool on, const Services& services) {
  platform::SupportDesk& desk = services.support;
  if (const std::string error = desk.SetRecording(on); !error.empty()) {
    services.output.Err("flashwright-cli: recording could not be turned " +
                        std::string(on ? "on" : "off") + ": " + error + "\n");
    return ProgrammingFailed;
  }
  if (!on) {
    services.output.Out("Recording is off: the programs bind the update library as always.\n");
    return Success;
  }
  services.output.Out(
      "Recording is on: each run of Flashwright or flashwright-cli from now on is recorded in "
      "%ProgramData%\\Flashwright\\recordings. Reproduce the problem, then run "
      "\"flashwright-cli support collect\" and \"flashwright-cli support record off\".\n");
  if (const std::string refusal = desk.RecorderRefusal(); !refusal.empty()) {
    services.output.Err(
        "flashwright-cli: nothing is recorded yet: the recorder (flashwright-recorder.dll) cannot "
        "be used: " +
        refusal +
        ". Install the installer's Recorder feature or copy it from the support kit beside the "
        "programs.\n");
  } else if (const std::string why = NothingRecordedBecause(desk); !why.empty()) {
    services.output.Err("flashwright-cli: nothing is recorded: " + why +
                        ". The recorder writes only in a folder of the data folder's owner and "
                        "access, never through a link: remove what is there and turn recording "
                        "on again.\n");
  }
  return Success;
}

// A log line longer than this is left out, with a note in its place (the log's lines are a few
// hundred bytes).
constexpr std::size_t MaxLogLine = 1 << 20;
constexpr std::string_view LongLineNote =
    R"({"note":"a line longer than 1 MiB was left out here"})";

// A recording's time from its name ("20261208T093015Z-....fwrec", as the recorder names it), in
// UTC seconds; none for a name of another form.
std::optional<std::int64_t> RecordingTime(std::string_view entry) {
  entry.remove_prefix(entry.rfind('/') + 1);
  if (entry.size() < 16 || entry[8] != 'T' || entry[15] != 'Z') return std::nullopt;
  // The digits at `at`, exactly `width` of them.
  bool digits = true;
  const auto number = [&](std::size_t at, std::size_t width) {
    unsigned value = 0;
    const char* end = entry.data() + at + width;
    const auto [stop, fault] = std::from_chars(entry.data() + at, end, value);
    digits = digits && fault == std::errc() && stop == end && entry[at] != '-' && entry[at] != '+';
    return value;
  };
  const auto year = static_cast<int>(number(0, 4));
  const unsigned month = number(4, 2);
  const unsigned day = number(6, 2);
  const unsigned hour = number(9, 2);
  const unsigned minute = number(11, 2);
  const unsigned second = number(13, 2);
  if (!digits) return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                            std::chrono::day{day}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  return (sys_days{date} + hours{hour} + minutes{minute} + seconds{second})
      .time_since_epoch()
      .count();
}

// What collect gathers of the data folder's files: the recordings newest first while their sizes
// add up to at most `maxBytes`, and only those made since `since` (unless `all`), then every log.
// What is left out is said, one line each, in `notes`.
std::vector<platform::SupportDesk::Gathered> Choose(
    std::vector<platform::SupportDesk::Gathered> files, std::int64_t since, bool all,
    std::uint64_t maxBytes, std::string& notes) {
  std::vector<platform::SupportDesk::Gathered> recordings;
  std::vector<platform::SupportDesk::Gathered> chosen;
  for (auto& file : files) {
    (file.name.starts_with("recordings/") ? recordings : chosen).push_back(std::move(file));
  }
  // Their names start with their time: the newest sort last.
  std::sort(recordings.begin(), recordings.end(),
            [](const auto& a, const auto& b) { return a.name > b.name; });
  std::uint64_t total = 0;
  std::size_t at = 0;
  for (auto& recording : recordings) {
    const std::optional<std::int64_t> made = RecordingTime(recording.name);
    if (!all && since > 0 && made && *made < since) {
      notes += recording.name + ": left out: made before recording was last turned on (--all " +
               "gathers it)\n";
    } else if (total + recording.size > maxBytes) {
      notes += recording.name + ": left out: " + std::to_string(recording.size) +
               " bytes would pass --max-size\n";
      total = maxBytes;  // newest first: nothing older goes in after one is left out
    } else {
      total += recording.size;
      chosen.insert(chosen.begin() + static_cast<std::ptrdiff_t>(at++), std::move(recording));
    }
  }
  return chosen;
}

ExitCode Collect(const Options& options, const Services& services) {
  platform::SupportDesk& desk = services.support;
  std::string path;
  std::string error;
  const std::unique_ptr<platform::SupportDesk::Output> file =
      desk.CreateArchive(options.supportValue, path, error);
  if (!file) {
    services.output.Err("flashwright-cli: " + (path.empty() ? options.supportValue : path) + ": " +
                        error + "\n");
    return ProgrammingFailed;
  }
  ZipArchive archive([&file](std::string_view bytes) { return file->Write(bytes); },
                     services.attempts.Now());
  const std::string refusal = desk.RecorderRefusal();
  const std::string folderRefusal = desk.RecordingsFolderRefusal();
  std::string notes;
  Pseudonyms pseudonyms(services.log.ComputerName(), services.log.UserName());
  // The data folder's files first: collect's own status run below may make a recording of its own.
  const std::uint64_t maxBytes = static_cast<std::uint64_t>(options.supportMaxMiB) << 20;
  for (const platform::SupportDesk::Gathered& gathered :
       Choose(desk.SupportFiles(), desk.RecordingSince(), options.supportAll, maxBytes, notes)) {
    // The entry starts with the file's first bytes: a file that cannot be opened leaves none.
    std::uint64_t taken = 0;
    bool begun = false;
    const auto write = [&](std::string_view bytes) {
      if (!begun && error.empty()) error = archive.Begin(gathered.name);
      begun = true;
      if (error.empty()) error = archive.Write(bytes);
    };
    // A log goes in line by line with its names replaced; anything else as it is.
    const bool log = !options.supportKeepNames && gathered.name.starts_with("logs/");
    LineSplitter lines(MaxLogLine);
    const auto writeLine = [&](std::string_view line, bool tooLong) {
      write((tooLong ? std::string(LongLineNote) : pseudonyms.LogLine(line)) + "\n");
    };
    const auto take = [&](std::string_view chunk) {
      taken += chunk.size();
      if (log) {
        if (!begun) write({});
        lines.Feed(chunk, writeLine);
      } else {
        write(chunk);
      }
    };
    const std::string readError = desk.ReadNoLink(gathered.path, take);
    if (log) lines.Finish(writeLine);
    if (readError.empty() && !begun) write({});
    if (!readError.empty()) {
      notes += gathered.name + ": " +
               (taken == 0 ? "not gathered: "
                           : "cut short after " + std::to_string(taken) + " bytes: ") +
               readError + "\n";
    }
    if (begun && error.empty()) error = archive.End();
    if (!error.empty()) break;
  }
  std::string versions;
  for (const platform::SupportDesk::Fact& fact : desk.Versions()) {
    versions += fact.name + ": " + fact.value + "\n";
  }
  auto [status, statusCode] = StatusDocument(services);
  std::string settings =
      std::string("recording: ") + (desk.RecordingOn() ? "on" : "off") +
      "\nrecorder: " + (desk.RecorderPresent() ? "present" : "missing") +
      (refusal.empty() ? "" : " (not used: " + refusal + ")") + "\nrecordings folder: " +
      (folderRefusal.empty() ? "usable" : "refused, nothing is recorded: " + folderRefusal) +
      "\nstatus exit code: " + std::to_string(statusCode) + "\n" + notes +
      (options.supportKeepNames ? "names: kept\n"
                                : "names: computers' and users' names in the logs, status and "
                                  "these notes replaced by pseudonyms (computer-1, user-1)\n");
  if (!options.supportKeepNames) {
    status = pseudonyms.Document(status);
    settings = pseudonyms.Text(settings);
  }
  for (const auto& [name, contents] :
       {std::pair<const char*, const std::string&>{"status.json", status},
        {"versions.txt", versions},
        {"settings.txt", settings}}) {
    if (error.empty()) error = archive.Add(name, contents);
  }
  if (error.empty()) error = archive.Finish();
  if (!error.empty()) {
    services.output.Err("flashwright-cli: " + path + ": " + error +
                        " (the file there is incomplete: delete it)\n");
    return ProgrammingFailed;
  }
  services.output.Out(path + "\n");
  return Success;
}

}  // namespace

ExitCode RunSupport(const Options& options, const Services& services) {
  if (options.supportStep.empty()) {
    services.output.Err(
        "flashwright-cli: support needs \"record on\", \"record off\" or \"collect [FILE]\" (see "
        "support --help)\n");
    return Usage;
  }
  if (!services.elevation.IsElevated()) {
    services.output.Err(
        "flashwright-cli: administrator rights are needed: run flashwright-cli from an elevated "
        "prompt\n");
    return NotElevated;
  }
  if (options.supportStep == "record") return Record(options.supportValue == "on", services);
  return Collect(options, services);
}

}  // namespace cli
