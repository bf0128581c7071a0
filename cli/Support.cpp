// The support commands; see Support.h.
#include "cli/Support.h"

#include "cli/Session.h"
#include "cli/ZipArchive.h"

namespace cli {
namespace {

// The most of one file an archive takes: recordings and logs stay far below it.
constexpr std::uint64_t MaxGatheredBytes = 256ull << 20;

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
  }
  return Success;
}

ExitCode Collect(const std::string& named, const Services& services) {
  platform::SupportDesk& desk = services.support;
  ZipArchive archive(services.attempts.Now());
  const std::string refusal = desk.RecorderRefusal();
  std::string notes;
  // The data folder's files first: collect's own status run below may make a recording of its own.
  for (const platform::SupportDesk::Gathered& file : desk.SupportFiles()) {
    std::string contents;
    if (const std::string error = desk.ReadNoLink(file.path, MaxGatheredBytes, contents);
        !error.empty()) {
      notes += file.name + ": not gathered: " + error + "\n";
    } else if (!archive.Add(file.name, contents)) {
      notes += file.name + ": not gathered: the archive is full\n";
    }
  }
  std::string versions;
  for (const platform::SupportDesk::Fact& fact : desk.Versions()) {
    versions += fact.name + ": " + fact.value + "\n";
  }
  const auto [status, statusCode] = StatusDocument(services);
  const std::string settings = std::string("recording: ") + (desk.RecordingOn() ? "on" : "off") +
                               "\nrecorder: " + (desk.RecorderPresent() ? "present" : "missing") +
                               (refusal.empty() ? "" : " (not used: " + refusal + ")") +
                               "\nstatus exit code: " + std::to_string(statusCode) + "\n" + notes;
  archive.Add("status.json", status);
  archive.Add("versions.txt", versions);
  archive.Add("settings.txt", settings);

  const std::string path = named.empty() ? desk.DefaultArchivePath() : named;
  if (const std::string error = services.files.Write(path, archive.Finish()); !error.empty()) {
    services.output.Err("flashwright-cli: " + path + ": " + error + "\n");
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
  return Collect(options.supportValue, services);
}

}  // namespace cli
