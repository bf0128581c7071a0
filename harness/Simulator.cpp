// The simulator's call log and usbsim, as the harness reads and runs them; see Simulator.h.
#include "harness/Simulator.h"

#include <fstream>
#include <thread>

namespace e2e {
namespace {

// Finer than PollInterval: the stamps of log lines are used to time the program.
constexpr Millis LogPollInterval = 5ms;
constexpr Millis UsbsimTimeout = 20s;

}  // namespace

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string joined;
  for (const auto& line : lines) joined += "  " + line + "\n";
  return joined;
}

void CallLog::Refresh() {
  std::ifstream in(file_, std::ios::binary);
  if (!in) return;
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (chunk.empty()) return;
  offset_ += chunk.size();
  const auto now = Clock::now();
  partial_ += chunk;
  for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
    std::string line = partial_.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    entries_.push_back({std::move(line), now});
    partial_.erase(0, end + 1);
  }
}

const std::vector<CallLog::Entry>& CallLog::Entries() {
  Refresh();
  return entries_;
}

std::optional<std::size_t> CallLog::WaitFor(const Predicate& match, std::size_t from,
                                            Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    Refresh();
    for (std::size_t i = from; i < entries_.size(); ++i) {
      if (match(entries_[i].text)) return i;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(LogPollInterval);
  }
}

std::size_t CallLog::Count(const Predicate& match, std::size_t from, std::size_t to) {
  Refresh();
  std::size_t count = 0;
  for (std::size_t i = from; i < std::min(to, entries_.size()); ++i) {
    if (match(entries_[i].text)) ++count;
  }
  return count;
}

std::string CallLog::Dump() {
  Refresh();
  std::string text = "call log:\n";
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    text += "  " + std::to_string(i) + ": " + entries_[i].text + "\n";
  }
  return text;
}

CallLog::Predicate StartsWith(std::string prefix) {
  return [prefix = std::move(prefix)](const std::string& line) { return line.starts_with(prefix); };
}

bool IsDeviceListCall(const std::string& line) {
  // The result line, written once per call (a misbehaving call logs more lines before it).
  return line.starts_with("ZR_GetDeviceList -> ");
}

bool IsPerDeviceCall(const std::string& line) {
  for (const char* call :
       {"ZR_GetChipType ", "ZR_GetRunningCodeMode ", "ZR_GetFWVersion ",
        "ZR_CheckLoadBinFileMatch ", "ZR_Inquiry ", "ZR_FWUpdateProgrammingNoCustomizedSetting "}) {
    if (line.starts_with(call)) return true;
  }
  return false;
}

std::optional<DWORD> RunUsbsim(const std::filesystem::path& binDir,
                               const std::filesystem::path& scenario, const std::string& args,
                               bool announce) {
  std::string commandLine = "--scenario \"" + scenario.string() + "\" ";
  if (!announce) commandLine += "--no-notify ";
  Process tool =
      Process::Launch(binDir / "usbsim.exe", scenario.parent_path(), {}, commandLine + args);
  return tool.WaitForExit(UsbsimTimeout);
}

}  // namespace e2e
