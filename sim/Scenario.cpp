// Scenario files: parsing, writing, loading and saving them whole. The keys of each section are
// ScenarioKeys.cpp's.
#include "sim/Scenario.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "recording/EnvironmentPath.h"
#include "recording/Recording.h"

namespace sim {
namespace {

constexpr std::size_t MaxFileBytes = 1 << 20;
constexpr std::size_t MaxLineLength = 4096;

std::string TooManyDevices() {
  std::string text = "more than ";
  text += std::to_string(MaxDevices);
  text += " devices";
  return text;
}

}  // namespace

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

Scenario DefaultScenario() {
  Scenario scenario;
  scenario.devices.emplace_back();
  scenario.devices.back().path = FreshDevicePath(Scenario{});
  return scenario;
}

std::string FreshDevicePath(const Scenario& scenario) {
  for (int n = 1;; ++n) {
    std::string path = "\\\\.\\SIMUSB" + std::to_string(n);
    if (FindDevice(scenario, path) < 0) return path;
  }
}

int FindDevice(const Scenario& scenario, std::string_view path) {
  for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
    if (scenario.devices[i].path == path) return static_cast<int>(i);
  }
  return -1;
}

std::string FindControlCharacter(std::string_view text, bool tabsAllowed) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && !(tabsAllowed && c == '\t')) || byte == 0x7f) {
      return "control character 0x" + recorder::Hex(std::string_view(&c, 1));
    }
  }
  return {};
}

std::string CheckScenario(const Scenario& scenario, std::size_t* badDevice) {
  for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
    if (badDevice) *badDevice = i;
    if (i >= MaxDevices) return TooManyDevices();
    if (FindDevice(scenario, scenario.devices[i].path) != static_cast<int>(i)) {
      return "path '" + scenario.devices[i].path + "' is used by an earlier device";
    }
  }
  return {};
}

ParseResult ParseScenario(std::string_view text, std::string_view fileName) {
  enum class Section { None, Device, Library };
  Scenario scenario;
  Section section = Section::None;
  bool seenLibrary = false;
  std::vector<std::string> keysSeen;    // in the current section, to catch duplicates
  std::vector<bool> pathGiven;          // per device
  std::vector<std::size_t> deviceLine;  // per device, its section header line

  auto fail = [&](std::size_t line, const std::string& what) {
    return ParseResult{std::nullopt,
                       std::string(fileName) + ":" + std::to_string(line) + ": " + what};
  };

  // Editors add these unasked; said plainly, since the bytes would only show as odd characters.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    return fail(1, "starts with a UTF-8 byte-order mark; save the file without one");
  }
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    return fail(1,
                "starts with a UTF-16 byte-order mark; save the file as ASCII or UTF-8 text "
                "without one");
  }

  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > MaxLineLength) {
      return fail(lineNumber, "line longer than " + std::to_string(MaxLineLength) + " characters");
    }
    if (std::string control = FindControlCharacter(line, true); !control.empty()) {
      return fail(lineNumber, control + " (not a text file?)");
    }
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;

    if (line.front() == '[') {
      if (line.back() != ']') return fail(lineNumber, "section header without closing ']'");
      std::string_view name = Trim(line.substr(1, line.size() - 2));
      keysSeen.clear();
      if (name == "device") {
        // Said at once: a file with thousands of devices must not cost a long parse first.
        if (scenario.devices.size() >= MaxDevices) {
          return fail(lineNumber, TooManyDevices());
        }
        section = Section::Device;
        scenario.devices.emplace_back();
        pathGiven.push_back(false);
        deviceLine.push_back(lineNumber);
      } else if (name == "library") {
        if (seenLibrary) return fail(lineNumber, "second [library] section");
        seenLibrary = true;
        section = Section::Library;
      } else {
        return fail(lineNumber,
                    "unknown section [" + std::string(name) + "] (known: [device], [library])");
      }
      continue;
    }

    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return fail(lineNumber, "expected 'key = value' or a [section] header");
    }
    std::string_view key = Trim(line.substr(0, equals));
    std::string_view value = Trim(line.substr(equals + 1));
    if (key.empty()) return fail(lineNumber, "missing key before '='");
    if (section == Section::None) {
      return fail(lineNumber, "key '" + std::string(key) + "' before any [device] or [library]");
    }
    // A key and its hex form set the same value: only one of them may be given.
    auto withoutHex = [](std::string_view name) {
      return name.ends_with("-hex") ? name.substr(0, name.size() - 4) : name;
    };
    for (const std::string& seen : keysSeen) {
      if (seen == key) return fail(lineNumber, "key '" + std::string(key) + "' given twice");
      if (withoutHex(seen) == withoutHex(key)) {
        return fail(lineNumber, "key '" + std::string(key) + "' sets what '" + seen + "' set");
      }
    }
    keysSeen.emplace_back(key);
    std::string error;
    if (section == Section::Device) {
      error = ApplyDeviceKey(scenario.devices.back(), key, value);
      if (key == "path" || key == "path-hex") pathGiven.back() = true;
    } else {
      error = ApplyLibraryKey(scenario.library, key, value);
    }
    if (!error.empty()) return fail(lineNumber, error);
  }

  // Devices without a path get fresh ones, after every given path is known.
  for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
    if (!pathGiven[i]) scenario.devices[i].path = FreshDevicePath(scenario);
  }
  std::size_t badDevice = 0;
  std::string error = CheckScenario(scenario, &badDevice);
  if (!error.empty()) return fail(deviceLine[badDevice], "[device]: " + error);
  return ParseResult{std::move(scenario), {}};
}

std::string SerializeScenario(const Scenario& scenario) {
  // The simulator kit ships sim/README.md as SIMULATOR.md, beside usbsim and the library.
  std::string out =
      "# Flashwright device simulator scenario (see SIMULATOR.md in the simulator kit).\n"
      "# Rewritten by usbsim and by the simulator itself: comments are not kept.\n";
  auto writeSection = [&out](const char* header, const std::vector<std::string>& pairs) {
    out += header;
    for (const std::string& pair : pairs) {
      std::size_t equals = pair.find('=');
      std::string value = pair.substr(equals + 1);
      out += pair.substr(0, equals) + (value.empty() ? " =\n" : " = " + value + "\n");
    }
  };
  if (!(scenario.library == LibrarySettings{})) {
    writeSection("\n[library]\n", KeyValues(scenario.library));
  }
  for (const SimDevice& device : scenario.devices) writeSection("\n[device]\n", KeyValues(device));
  return out;
}

ParseResult LoadScenarioFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return ParseResult{std::nullopt, fileName + ": cannot open the scenario file"};
  std::string text(MaxFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return ParseResult{std::nullopt, fileName + ": cannot read the scenario file"};
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > MaxFileBytes) {
    return ParseResult{std::nullopt, fileName + ": larger than " + std::to_string(MaxFileBytes) +
                                         " bytes (not a scenario file?)"};
  }
  return ParseScenario(text, fileName);
}

std::string SaveScenarioFile(const std::string& fileName, const Scenario& scenario) {
  // A name of its own per writer, so that usbsim and the simulator never share a temporary.
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string temporary = fileName + ".tmp" + std::to_string(stamp % 1000000007);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const std::string text = SerializeScenario(scenario);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      return fileName + ": cannot write " + temporary;
    }
  }
  // The other process may have the file open for reading this very moment (Windows refuses to
  // replace an open file): try again for a little while.
  std::error_code error;
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::filesystem::rename(temporary, fileName, error);
    if (!error) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (error) {
    std::remove(temporary.c_str());
    return fileName + ": cannot replace the scenario file: " + error.message();
  }
  return {};
}

std::string PathFromEnvironment(std::string_view value) {
  return recorder::PathFromEnvironment(std::string(value));
}

}  // namespace sim
