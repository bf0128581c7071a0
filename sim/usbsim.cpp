// usbsim: changes the simulated world (the scenario file) as a person at the desk would, then
// announces the change to every top-level window the way Windows does.
#include <windows.h>
// dbt.h needs the windows.h types first.
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/win32/UsbDeviceInterface.h"
#include "recording/Recording.h"
#include "sim/Replay.h"
#include "sim/Scenario.h"

namespace {

constexpr int ExitOk = 0;
constexpr int ExitScenarioError = 1;
constexpr int ExitUsage = 2;
constexpr UINT SendTimeoutMs = 1000;

const char HelpText[] =
    "usage: usbsim [--scenario FILE] [--no-notify] COMMAND [ARGS]\n"
    "\n"
    "Changes the world of the simulated update library (ZRFWUpdateDll.dll) by editing its\n"
    "scenario file, then announces the change with WM_DEVICECHANGE to all top-level windows.\n"
    "The file is FILE, or else the one named by FLASHWRIGHT_SIM_SCENARIO; a Unix path such as\n"
    "/tmp/world.ini is taken as Z:\\tmp\\world.ini. A missing file is an empty world.\n"
    "\n"
    "Commands (N counts devices from 1, as 'list' shows them):\n"
    "  list                      show the devices and library settings\n"
    "  plug [key=value ...]      attach a device: defaults, a fresh path, then the given keys\n"
    "  unplug [N|all]            detach device N, every device, or (no argument) the last one\n"
    "  power-cycle [N|all]       switch device N or every device off and on: a pending\n"
    "                            programmed version becomes the version\n"
    "  set N key=value ...       change keys of device N (e.g. version=00.01.01.06)\n"
    "  set library key=value ... change library-wide keys (e.g. device-count=17)\n"
    "  reset                     write the default world: one default device (whatever\n"
    "                            the file held before, even if it was malformed)\n"
    "  notify [nodes|remove|arrival]\n"
    "                            only announce an event (default: nodes)\n"
    "\n"
    "Announcements: plug sends DBT_DEVICEARRIVAL and DBT_DEVNODES_CHANGED; unplug sends\n"
    "DBT_DEVICEREMOVECOMPLETE and DBT_DEVNODES_CHANGED; power-cycle sends all three; set and\n"
    "reset send DBT_DEVNODES_CHANGED. --no-notify skips them.\n"
    "Keys are those of the scenario file, e.g. chip-type=11, running-mode=1,\n"
    "version=00.01.01.07, image-fits=no, vendor=ACME, \"product=Big Disk\", program-ms=500,\n"
    "program-succeeds=no, inquiry-result=0. Values are one line of plain text.\n"
    "SIMULATOR.md beside usbsim.exe in the simulator kit describes every key, the scenario\n"
    "file and the call log.\n"
    "\n"
    "Library misbehaviour (set library ...; NAME is one of the twelve entry points the program\n"
    "calls, MS 0..600000; a call stalls, waits for its note, pumps, then crashes, throws or\n"
    "overflows; an empty value clears):\n"
    "  stall=NAME:MS[,NAME:MS...]  NAME first blocks MS ms, dispatching no message\n"
    "  modal-message=NAME:MS[,...] NAME shows its note titled Message and waits, running a\n"
    "                              message loop, until it is closed (MS ms at most)\n"
    "  pump=NAME:MS[,NAME:MS...]   NAME first runs a message loop of its own for MS ms\n"
    "  crash=NAME[,NAME...]        NAME raises an access violation instead of working\n"
    "  throw=NAME[,NAME...]        NAME raises a C++ exception (E06D7363) nobody catches\n"
    "  overflow=NAME[,NAME...]     NAME recurses until its stack overflows\n"
    "e.g. usbsim set library pump=ZR_GetChipType:2000 crash=ZR_Inquiry\n"
    "A misbehaviour takes effect at the program's next scan (its next ZR_GetDeviceList).\n"
    "Exit status: 0 done, 1 scenario file error, 2 usage error.\n"
    "\n"
    "Recordings (made by the recorder in front of the vendor's library):\n"
    "  replay-check RECORDING LOG  print the divergences a replay of RECORDING logged in its\n"
    "                            call LOG (FLASHWRIGHT_SIM_LOG); exit 1 if there are any\n"
    "  scenario RECORDING        print a scenario file of the devices as RECORDING last saw\n"
    "                            them, for editing into a test\n"
    "These read no scenario file; exit 0 done, 1 divergences or unreadable, 2 usage error.\n";

struct Failure {
  int exitCode;
  std::string message;
};

int Fail(const Failure& failure) {
  std::fprintf(stderr, "usbsim: %s\n", failure.message.c_str());
  if (failure.exitCode == ExitUsage) std::fprintf(stderr, "try 'usbsim --help'\n");
  return failure.exitCode;
}

struct Announcement {
  WPARAM event;
  std::string devicePath;  // for arrival and removal events
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

const char* EventName(WPARAM event) {
  switch (event) {
    case DBT_DEVNODES_CHANGED:
      return "DBT_DEVNODES_CHANGED";
    case DBT_DEVICEARRIVAL:
      return "DBT_DEVICEARRIVAL";
    case DBT_DEVICEREMOVECOMPLETE:
      return "DBT_DEVICEREMOVECOMPLETE";
  }
  return "?";
}

// Sends each event to every top-level window. An event without data is queued with
// SendNotifyMessage: it never waits, and a busy window still gets it when it next pumps.
// Arrival and removal carry a device-interface record, which only a synchronous send can take
// across processes; SMTO_ABORTIFHUNG and a timeout keep a hung or busy window from stalling the
// tool (such a window misses that event; its thread's windows are skipped for later records).
void Announce(const std::vector<Announcement>& announcements) {
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  std::vector<DWORD> unresponsive;  // threads that let a send time out
  for (const Announcement& announcement : announcements) {
    int missed = 0;
    if (announcement.event == DBT_DEVNODES_CHANGED) {
      for (HWND window : windows) {
        if (!SendNotifyMessageA(window, WM_DEVICECHANGE, announcement.event, 0)) ++missed;
      }
    } else {
      std::vector<char> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) +
                               announcement.devicePath.size());
      auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
      header->dbcc_size = static_cast<DWORD>(record.size());
      header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      header->dbcc_classguid = platform::win32::UsbDeviceInterfaceClass;
      announcement.devicePath.copy(header->dbcc_name, announcement.devicePath.size());
      for (HWND window : windows) {
        const DWORD thread = GetWindowThreadProcessId(window, nullptr);
        const bool skip =
            std::find(unresponsive.begin(), unresponsive.end(), thread) != unresponsive.end();
        DWORD_PTR reply = 0;
        if (skip || !SendMessageTimeoutA(window, WM_DEVICECHANGE, announcement.event,
                                         reinterpret_cast<LPARAM>(record.data()), SMTO_ABORTIFHUNG,
                                         SendTimeoutMs, &reply)) {
          if (!skip) unresponsive.push_back(thread);
          ++missed;
        }
      }
    }
    std::printf("announced %s to %zu windows", EventName(announcement.event), windows.size());
    std::printf(missed ? " (%d hung, busy or gone: not delivered)\n" : "\n", missed);
  }
}

std::string ScenarioFile(const std::string& option) {
  if (!option.empty()) return sim::PathFromEnvironment(option);
  const char* value = std::getenv("FLASHWRIGHT_SIM_SCENARIO");
  return value ? sim::PathFromEnvironment(value) : std::string();
}

bool LoadWorld(const std::string& file, sim::Scenario* world, Failure* failure) {
  if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *world = sim::Scenario{};
    return true;
  }
  sim::ParseResult parsed = sim::LoadScenarioFile(file);
  if (!parsed.scenario) {
    *failure = {ExitScenarioError, parsed.error};
    return false;
  }
  *world = std::move(*parsed.scenario);
  return true;
}

// "1".."count" to an index; false for anything else.
bool DeviceIndex(const std::string& text, std::size_t count, std::size_t* index) {
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || number < 1 || static_cast<std::size_t>(number) > count) {
    return false;
  }
  *index = static_cast<std::size_t>(number - 1);
  return true;
}

// Error text for a key or value holding a control character, which the scenario file cannot
// take: a line break would end the key's line and start another.
std::string CheckPlainText(const std::string& key, const std::string& value) {
  const char* const rule = ": keys and values are one line of plain text";
  std::string error = sim::FindControlCharacter(key, false);
  if (!error.empty()) return error + " in a key" + rule;
  error = sim::FindControlCharacter(value, false);
  if (!error.empty()) return key + ": " + error + " in the value" + rule;
  return {};
}

template <typename T>
bool ApplyPairs(T& target, const std::vector<std::string>& pairs, Failure* failure) {
  for (const std::string& pair : pairs) {
    std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      *failure = {ExitUsage, "expected key=value, got '" + pair + "'"};
      return false;
    }
    std::string key = pair.substr(0, equals);
    std::string value = pair.substr(equals + 1);
    std::string error = CheckPlainText(key, value);
    if (!error.empty()) {
      *failure = {ExitUsage, error};
      return false;
    }
    if constexpr (std::is_same_v<T, sim::SimDevice>) {
      error = sim::ApplyDeviceKey(target, key, value);
    } else {
      error = sim::ApplyLibraryKey(target, key, value);
    }
    if (!error.empty()) {
      *failure = {ExitUsage, error};
      return false;
    }
  }
  return true;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

void List(const std::string& file, const sim::Scenario& world) {
  std::printf("scenario %s\n", file.c_str());
  if (!(world.library == sim::LibrarySettings{})) {
    std::printf("library: %s\n", Join(sim::KeyValues(world.library)).c_str());
  }
  if (world.devices.empty()) std::printf("no devices\n");
  for (std::size_t i = 0; i < world.devices.size(); ++i) {
    std::printf("device %zu: %s\n", i + 1, Join(sim::KeyValues(world.devices[i])).c_str());
  }
}

// Runs one command on the world. Returns false with a failure, or true with the events to send
// and whether the world must be written back.
bool RunCommand(const std::vector<std::string>& args, const std::string& file, sim::Scenario& world,
                std::vector<Announcement>* events, bool* changed, Failure* failure) {
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  auto usage = [failure](const std::string& message) {
    *failure = {ExitUsage, message};
    return false;
  };
  // Devices named by "N", "all" or nothing (then all, or the last one when lastByDefault).
  auto select = [&](bool lastByDefault, std::vector<std::size_t>* picked) {
    if (rest.size() > 1) return usage(command + " takes at most one argument");
    std::size_t index = 0;
    if (rest.empty() && lastByDefault) {
      if (world.devices.empty()) return usage("no device is plugged in");
      picked->push_back(world.devices.size() - 1);
    } else if (rest.empty() || rest[0] == "all") {
      for (std::size_t i = 0; i < world.devices.size(); ++i) picked->push_back(i);
    } else if (DeviceIndex(rest[0], world.devices.size(), &index)) {
      picked->push_back(index);
    } else {
      return usage("no device '" + rest[0] + "' (there are " +
                   std::to_string(world.devices.size()) + ")");
    }
    return true;
  };

  if (command == "list") {
    if (!rest.empty()) return usage("list takes no arguments");
    List(file, world);
  } else if (command == "notify") {
    if (rest.size() > 1) return usage("notify takes at most one argument");
    const std::string event = rest.empty() ? "nodes" : rest[0];
    if (event == "nodes") {
      events->push_back({DBT_DEVNODES_CHANGED, {}});
    } else if (event == "remove" || event == "arrival") {
      std::string path =
          world.devices.empty() ? sim::FreshDevicePath(world) : world.devices[0].path;
      const WPARAM code = event == "remove" ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL;
      events->push_back({code, path});
    } else {
      return usage("unknown event '" + event + "' (nodes, remove or arrival)");
    }
  } else if (command == "reset") {
    if (!rest.empty()) return usage("reset takes no arguments");
    world = sim::DefaultScenario();
    *changed = true;
    events->push_back({DBT_DEVNODES_CHANGED, {}});
  } else if (command == "plug") {
    sim::SimDevice device;
    device.path = sim::FreshDevicePath(world);
    if (!ApplyPairs(device, rest, failure)) return false;
    world.devices.push_back(device);
    std::printf("plugged %zu: %s\n", world.devices.size(), device.path.c_str());
    *changed = true;
    events->push_back({DBT_DEVICEARRIVAL, device.path});
    events->push_back({DBT_DEVNODES_CHANGED, {}});
  } else if (command == "unplug") {
    std::vector<std::size_t> picked;
    if (!select(true, &picked)) return false;
    for (auto it = picked.rbegin(); it != picked.rend(); ++it) {
      const std::string path = world.devices[*it].path;
      world.devices.erase(world.devices.begin() + static_cast<std::ptrdiff_t>(*it));
      std::printf("unplugged %zu: %s\n", *it + 1, path.c_str());
      events->push_back({DBT_DEVICEREMOVECOMPLETE, path});
    }
    *changed = true;
    events->push_back({DBT_DEVNODES_CHANGED, {}});
  } else if (command == "power-cycle") {
    std::vector<std::size_t> picked;
    if (!select(false, &picked)) return false;
    for (std::size_t index : picked) {
      sim::SimDevice& device = world.devices[index];
      if (device.pendingVersion.empty()) {
        std::printf("power-cycled %zu: version %s (nothing pending)\n", index + 1,
                    device.version.c_str());
      } else {
        std::printf("power-cycled %zu: version %s -> %s\n", index + 1, device.version.c_str(),
                    device.pendingVersion.c_str());
        device.version = device.pendingVersion;
        device.pendingVersion.clear();
      }
      events->push_back({DBT_DEVICEREMOVECOMPLETE, device.path});
      events->push_back({DBT_DEVICEARRIVAL, device.path});
    }
    *changed = true;
    events->push_back({DBT_DEVNODES_CHANGED, {}});
  } else if (command == "set") {
    if (rest.size() < 2) return usage("set needs N (or library) and at least one key=value");
    const std::vector<std::string> pairs(rest.begin() + 1, rest.end());
    std::size_t index = 0;
    if (rest[0] == "library") {
      if (!ApplyPairs(world.library, pairs, failure)) return false;
    } else if (DeviceIndex(rest[0], world.devices.size(), &index)) {
      if (!ApplyPairs(world.devices[index], pairs, failure)) return false;
    } else {
      return usage("no device '" + rest[0] + "' (there are " +
                   std::to_string(world.devices.size()) + ")");
    }
    *changed = true;
    events->push_back({DBT_DEVNODES_CHANGED, {}});
  } else {
    return usage("unknown command '" + command + "'");
  }
  return true;
}

std::string PathArgument(const std::string& arg) { return sim::PathFromEnvironment(arg); }

// replay-check and scenario: they read a recording (and a call log), never the world.
int RunRecordingCommand(const std::vector<std::string>& args) {
  const bool check = args[0] == "replay-check";
  if (args.size() != (check ? 3u : 2u)) {
    return Fail(
        {ExitUsage, check ? "replay-check needs RECORDING and LOG" : "scenario needs RECORDING"});
  }
  const recorder::ParsedRecording parsed = recorder::LoadRecording(PathArgument(args[1]));
  if (!parsed.recording) return Fail({ExitScenarioError, parsed.error});
  if (!check) {
    // Which program made the recording, when it says so (older recordings do not).
    if (const auto& origin = parsed.recording->origin) {
      std::printf("# from a recording of %s %s, recorder %s\n", origin->program.c_str(),
                  origin->programVersion.c_str(), origin->recorderVersion.c_str());
    }
    std::fputs(sim::SerializeScenario(sim::ScenarioFromRecording(*parsed.recording)).c_str(),
               stdout);
    return ExitOk;
  }
  std::ifstream log(PathArgument(args[2]), std::ios::binary);
  if (!log) return Fail({ExitScenarioError, args[2] + ": cannot be read"});
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  const std::vector<std::string> divergences = sim::ReplayDivergences(*parsed.recording, lines);
  for (const std::string& divergence : divergences) std::printf("%s\n", divergence.c_str());
  std::printf("%zu divergence(s)\n", divergences.size());
  return divergences.empty() ? ExitOk : ExitScenarioError;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenarioOption;
  bool notify = true;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(HelpText, stdout);
      return ExitOk;
    } else if (arg == "--scenario" && args.empty()) {
      if (++i == argc) return Fail({ExitUsage, "--scenario needs a file name"});
      scenarioOption = argv[i];
    } else if (arg == "--no-notify" && args.empty()) {
      notify = false;
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) return Fail({ExitUsage, "no command given"});
  if (args[0] == "replay-check" || args[0] == "scenario") return RunRecordingCommand(args);

  const std::string file = ScenarioFile(scenarioOption);
  // notify works without a world; it only borrows a device path from one when there is one.
  const bool onlyNotify = args[0] == "notify";
  if (file.empty() && !onlyNotify) {
    return Fail(
        {ExitUsage, "no scenario file: give --scenario FILE or set FLASHWRIGHT_SIM_SCENARIO"});
  }

  sim::Scenario world;
  Failure failure{ExitOk, {}};
  // reset replaces the world whatever the file holds, so that it mends a broken file.
  const bool replacesWorld = args[0] == "reset";
  if (!file.empty() && !replacesWorld && !LoadWorld(file, &world, &failure) && !onlyNotify) {
    return Fail(failure);
  }
  std::vector<Announcement> events;
  bool changed = false;
  if (!RunCommand(args, file, world, &events, &changed, &failure)) return Fail(failure);

  if (changed) {
    std::string error = sim::CheckScenario(world);
    if (error.empty()) error = sim::SaveScenarioFile(file, world);
    if (!error.empty()) return Fail({ExitScenarioError, error});
  }
  if (notify) Announce(events);
  return ExitOk;
}
