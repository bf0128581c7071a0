// The simulated world: devices and library-wide fault switches, and their scenario-file text form
// (parse, serialize, load, save). Portable; shared by the simulator library and usbsim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr std::size_t MaxPathLength = 259;
inline constexpr std::size_t MaxVersionLength = 79;
inline constexpr std::size_t MaxVendorLength = 8;
inline constexpr std::size_t MaxProductLength = 16;
inline constexpr std::size_t MaxDevices = 16;
inline constexpr std::size_t MaxInquiryBytes = 255;
// The length of the standard INQUIRY data the simulated devices answer with.
inline constexpr std::size_t StandardInquiryLength = 36;
// The title of the note the library shows on its own (the message-window key).
inline constexpr char NoteTitle[] = "Message";
inline constexpr int MaxProgramMs = 600000;
inline constexpr int MaxMisbehaviourMs = 600000;
inline constexpr int MaxOverrunBytes = 65536;
// The code a library compiled with Visual C++ raises for a C++ throw (the throw key).
inline constexpr std::uint32_t CppExceptionCode = 0xE06D7363;
inline constexpr std::uint32_t StackOverflowCode = 0xC00000FD;

// One attached device. An unset result means the call's natural result: 1, except the image
// check (imageFits ? 1 : 0) and programming (programSucceeds ? 1 : 0). Out-values are written
// whatever the result, so a test can pair a failing result with plausible data.
struct SimDevice {
  std::string path;
  int chipType = 13;
  int runningMode = 2;
  std::string version = "00.01.01.05";
  bool imageFits = true;
  std::string vendor = "SIMDEV";
  std::string product = "USB Bridge";

  std::optional<int> chipTypeResult;
  std::optional<int> runningModeResult;
  std::optional<int> versionResult;
  std::optional<int> imageCheckResult;
  std::optional<int> inquiryResult;
  std::optional<int> programResult;
  int programMs = 3000;
  bool programSucceeds = true;
  std::string programVersion = "00.01.01.07";  // what a successful programming leaves pending
  std::string pendingVersion;                  // applied at the next power cycle; empty: none

  bool operator==(const SimDevice&) const = default;
};

// A misbehaviour lasting ms milliseconds at the start of every call of one entry point.
struct TimedMisbehaviour {
  std::string entryPoint;  // one of the twelve the program calls
  int ms = 0;              // 0..MaxMisbehaviourMs

  bool operator==(const TimedMisbehaviour&) const = default;
};

// Library-wide behaviour, mostly fault injection.
struct LibrarySettings {
  int deviceListResult = 1;
  int setterResult = 1;                     // the four configuration setters
  int settingsTableResult = 1;              // ZR_InitialCustomizedSettingTable
  std::optional<int> deviceCount;           // reported instead of the number of devices
  bool unterminatedPaths = false;           // fill all 260 bytes of each path slot, no NUL
  bool unterminatedVersion = false;         // fill all 80 bytes of the version buffer, no NUL
  std::vector<unsigned char> inquiryBytes;  // non-empty: returned instead of built INQUIRY data
  // Misbehaviour of named entry points, at most one entry per entry point in each list; a call
  // stalls, shows its note, waits for its note, pumps, then crashes, throws or overflows, as
  // listed for it.
  std::vector<TimedMisbehaviour> stall;  // blocks, dispatching no message
  std::vector<TimedMisbehaviour> pump;   // runs a message loop of its own on the calling thread
  std::vector<std::string> crash;        // raises an access violation instead of working
  // Shows the library's own note, a top-level window titled NoteTitle, and leaves it open.
  std::vector<std::string> messageWindow;
  // Shows the note and waits inside the call until it is closed (a modal loop dispatching the
  // thread's messages), ms at most.
  std::vector<TimedMisbehaviour> modalMessage;
  // Raises a C++ exception nobody catches (CppExceptionCode, non-continuable) instead of working.
  std::vector<std::string> throwCpp;
  std::vector<std::string> overflow;  // recurses without bound until the stack overflows
  // After filling the slots, overwrites the caller's array of slot pointers with NULL and junk.
  bool overwriteSlotPointers = false;
  // Bytes written past the promised size of every buffer the library fills (each path slot, the
  // version, the INQUIRY buffer), as a careless library may: 0..MaxOverrunBytes.
  int overrun = 0;

  bool operator==(const LibrarySettings&) const = default;
};

struct Scenario {
  LibrarySettings library;
  std::vector<SimDevice> devices;

  bool operator==(const Scenario&) const = default;
};

// The world without a scenario file: one device with every default and path FreshDevicePath.
Scenario DefaultScenario();

// "\\.\SIMUSB<n>" with the smallest n >= 1 that no device of the scenario uses.
std::string FreshDevicePath(const Scenario& scenario);

// Index of the device with exactly this path, or -1.
int FindDevice(const Scenario& scenario, std::string_view path);

// Sets one key of a device or of the library settings from its text value (trimmed by the
// caller). Returns an error text, empty on success. Unknown keys are errors.
std::string ApplyDeviceKey(SimDevice& device, std::string_view key, std::string_view value);
std::string ApplyLibraryKey(LibrarySettings& library, std::string_view key, std::string_view value);

// "key=value" for every basic key (path, chip-type, running-mode, version, image-fits, vendor,
// product) and every other key away from its default, in file order; for listings.
std::vector<std::string> KeyValues(const SimDevice& device);
std::vector<std::string> KeyValues(const LibrarySettings& library);

// Text without blanks and tabs at either end.
std::string_view Trim(std::string_view text);

// "control character 0xNN" for the first byte of text below 0x20 or equal to 0x7F, a tab
// excepted when tabs are allowed (scenario lines take tabs as blanks; usbsim's values are
// written into a line, where no control character belongs); empty when there is none.
std::string FindControlCharacter(std::string_view text, bool tabsAllowed);

// Whole-world rules: at most MaxDevices devices, no two with the same path. Returns an error
// text and, through badDevice, the offending device's index; empty when the world is sound.
std::string CheckScenario(const Scenario& scenario, std::size_t* badDevice = nullptr);

struct ParseResult {
  std::optional<Scenario> scenario;
  std::string error;  // "<file>:<line>: <what>" or "<file>: <what>" when no line applies
};

// Parses scenario text. fileName only labels error messages. Never throws on bad input. Text
// starting with a byte-order mark (UTF-8 or UTF-16) is refused with a message saying so.
ParseResult ParseScenario(std::string_view text, std::string_view fileName);

// The text form of a scenario; ParseScenario(SerializeScenario(s)) yields s again.
std::string SerializeScenario(const Scenario& scenario);

// Reads and parses a file of at most 1 MiB.
ParseResult LoadScenarioFile(const std::string& fileName);

// Writes the scenario to a temporary file beside fileName and moves it into place, so a reader
// sees either the old or the new world. Returns an error text, empty on success.
std::string SaveScenarioFile(const std::string& fileName, const Scenario& scenario);

// A file name from an environment variable as a Windows path: a Unix absolute path
// ("/tmp/w.ini") becomes a path on Wine's Z: drive ("Z:\tmp\w.ini"); anything else is kept.
std::string PathFromEnvironment(std::string_view value);

}  // namespace sim
