// The scenario file's keys: one table per section, each key with how it is parsed, shown and
// written. It drives parsing, writing, usbsim's key=value edits and listings alike.
#include <algorithm>
#include <charconv>

#include "recording/Recording.h"
#include "sim/Scenario.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

template <typename T>
struct KeyDef {
  std::string_view name;
  std::string (*apply)(T&, std::string_view);  // error text, empty on success
  std::string (*show)(const T&);               // text form; "" for an unset optional
  bool basic;                                  // always written, even at its default
  // When set and false, the key is not written: the value is written under another key.
  bool (*written)(const T&) = nullptr;
};

std::string ParseInt(std::string_view value, int* out) {
  const char* last = value.data() + value.size();
  auto [end, ec] = std::from_chars(value.data(), last, *out);
  if (ec == std::errc::result_out_of_range) return "'" + std::string(value) + "' is out of range";
  if (value.empty() || ec != std::errc() || end != last) {
    return "'" + std::string(value) + "' is not a whole number";
  }
  return {};
}

template <typename T, int T::*Member>
std::string SetInt(T& t, std::string_view value) {
  return ParseInt(value, &(t.*Member));
}
template <typename T, int T::*Member>
std::string ShowInt(const T& t) {
  return std::to_string(t.*Member);
}

template <typename T, std::optional<int> T::*Member>
std::string SetOptionalInt(T& t, std::string_view value) {
  int parsed = 0;
  std::string error = ParseInt(value, &parsed);
  if (error.empty()) t.*Member = parsed;
  return error;
}
template <typename T, std::optional<int> T::*Member>
std::string ShowOptionalInt(const T& t) {
  return (t.*Member) ? std::to_string(*(t.*Member)) : std::string();
}

template <typename T, bool T::*Member>
std::string SetBool(T& t, std::string_view value) {
  if (value == "yes") {
    t.*Member = true;
  } else if (value == "no") {
    t.*Member = false;
  } else {
    return "'" + std::string(value) + "' is neither yes nor no";
  }
  return {};
}
template <typename T, bool T::*Member>
std::string ShowBool(const T& t) {
  return (t.*Member) ? "yes" : "no";
}

template <typename T, std::string T::*Member, std::size_t MaxLength>
std::string SetText(T& t, std::string_view value) {
  if (value.size() > MaxLength) {
    return "'" + std::string(value) + "' is longer than " + std::to_string(MaxLength) +
           " characters";
  }
  t.*Member = value;
  return {};
}
template <typename T, std::string T::*Member>
std::string ShowText(const T& t) {
  return t.*Member;
}

std::string ParseBetween(std::string_view value, int max, int* out) {
  int number = 0;
  std::string error = ParseInt(value, &number);
  if (error.empty() && (number < 0 || number > max)) {
    error = "'" + std::string(value) + "' is not between 0 and " + std::to_string(max);
  }
  if (error.empty()) *out = number;
  return error;
}

std::string SetProgramMs(SimDevice& device, std::string_view value) {
  return ParseBetween(value, MaxProgramMs, &device.programMs);
}

std::string SetOverrun(LibrarySettings& library, std::string_view value) {
  return ParseBetween(value, MaxOverrunBytes, &library.overrun);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes as hex digit pairs, blanks anywhere between them ignored: "00 80 0a0B".
std::string ParseHex(std::string_view value, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  int high = -1;
  for (char c : value) {
    if (c == ' ' || c == '\t') continue;
    int digit = HexDigit(c);
    if (digit < 0) return std::string("'") + c + "' is not a hex digit";
    if (high < 0) {
      high = digit;
    } else {
      bytes->push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return "odd number of hex digits";
  if (bytes->size() > maxBytes) return "more than " + std::to_string(maxBytes) + " bytes";
  return {};
}

// Bytes as hex digit pairs with a blank between them: "00 80 0A".
std::string ShowHex(std::string_view bytes) {
  const std::string digits = recorder::Hex(bytes);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (!text.empty()) text += ' ';
    text.append(digits, i, 2);
  }
  return text;
}

std::string SetInquiryHex(LibrarySettings& library, std::string_view value) {
  std::string bytes;
  std::string error = ParseHex(value, MaxInquiryBytes, &bytes);
  if (error.empty()) library.inquiryBytes.assign(bytes.begin(), bytes.end());
  return error;
}

std::string ShowInquiryHex(const LibrarySettings& library) {
  return ShowHex(std::string_view(reinterpret_cast<const char*>(library.inquiryBytes.data()),
                                  library.inquiryBytes.size()));
}

// A text given as hex bytes ("path-hex" beside "path"), so that control bytes, blanks at the
// ends and, where the text allows it, NUL bytes can be had.
template <typename T, std::string T::*Member, std::size_t MaxLength, bool NulAllowed>
std::string SetTextHex(T& t, std::string_view value) {
  std::string bytes;
  std::string error = ParseHex(value, MaxLength, &bytes);
  if (!error.empty()) return error;
  if (!NulAllowed && bytes.find('\0') != std::string::npos) {
    return "a NUL byte inside would cut the text short";
  }
  t.*Member = std::move(bytes);
  return {};
}
template <typename T, std::string T::*Member>
std::string ShowTextHex(const T& t) {
  return ShowHex(t.*Member);
}

// Whether a text survives a "key = value" line as it stands: no control byte and no blank at
// either end (those are trimmed). The writer uses the key's hex form for any other text.
bool FitsALine(std::string_view text) {
  return FindControlCharacter(text, false).empty() && Trim(text) == text;
}
template <typename T, std::string T::*Member>
bool WrittenAsText(const T& t) {
  return FitsALine(t.*Member);
}
template <typename T, std::string T::*Member>
bool WrittenAsHex(const T& t) {
  return !FitsALine(t.*Member);
}

std::string CheckEntryPoint(std::string_view name) {
  if (recorder::IsCalledEntryPoint(name)) return {};
  std::string known;
  for (std::string_view entryPoint : updatelib::CalledEntryPointNames) {
    known += (known.empty() ? "" : ", ") + std::string(entryPoint);
  }
  return "'" + std::string(name) + "' is not an entry point the program calls (" + known + ")";
}

// The comma-separated items of a list value, each trimmed; an empty value is an empty list.
std::string SplitList(std::string_view value, std::vector<std::string_view>* items) {
  if (value.empty()) return {};
  for (;;) {
    const std::size_t comma = value.find(',');
    const std::string_view item = Trim(value.substr(0, comma));
    if (item.empty()) return "empty item in the list";
    items->push_back(item);
    if (comma == std::string_view::npos) return {};
    value.remove_prefix(comma + 1);
  }
}

// "NAME:MS, NAME:MS ...": each a called entry point, at most once, MS in 0..MaxMisbehaviourMs.
template <std::vector<TimedMisbehaviour> LibrarySettings::*Member>
std::string SetTimedMisbehaviour(LibrarySettings& library, std::string_view value) {
  std::vector<std::string_view> items;
  std::string error = SplitList(value, &items);
  if (!error.empty()) return error;
  std::vector<TimedMisbehaviour> parsed;
  for (std::string_view item : items) {
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos)
      return "'" + std::string(item) + "' lacks its time: NAME:MS";
    TimedMisbehaviour entry{std::string(Trim(item.substr(0, colon))), 0};
    error = CheckEntryPoint(entry.entryPoint);
    if (!error.empty()) return error;
    for (const TimedMisbehaviour& earlier : parsed) {
      if (earlier.entryPoint == entry.entryPoint) return "'" + entry.entryPoint + "' given twice";
    }
    error = ParseBetween(Trim(item.substr(colon + 1)), MaxMisbehaviourMs, &entry.ms);
    if (!error.empty()) return entry.entryPoint + ": " + error;
    parsed.push_back(std::move(entry));
  }
  library.*Member = std::move(parsed);
  return {};
}
template <std::vector<TimedMisbehaviour> LibrarySettings::*Member>
std::string ShowTimedMisbehaviour(const LibrarySettings& library) {
  std::string text;
  for (const TimedMisbehaviour& entry : library.*Member) {
    text += (text.empty() ? "" : ", ") + entry.entryPoint + ":" + std::to_string(entry.ms);
  }
  return text;
}

// "NAME, NAME ...": each a called entry point, at most once.
template <std::vector<std::string> LibrarySettings::*Member>
std::string SetNameList(LibrarySettings& library, std::string_view value) {
  std::vector<std::string_view> items;
  std::string error = SplitList(value, &items);
  if (!error.empty()) return error;
  std::vector<std::string> parsed;
  for (std::string_view item : items) {
    if (item.find(':') != std::string_view::npos) {
      return "'" + std::string(item) + "': takes no time, only the entry point's name";
    }
    error = CheckEntryPoint(item);
    if (!error.empty()) return error;
    if (std::find(parsed.begin(), parsed.end(), item) != parsed.end()) {
      return "'" + std::string(item) + "' given twice";
    }
    parsed.emplace_back(item);
  }
  library.*Member = std::move(parsed);
  return {};
}
template <std::vector<std::string> LibrarySettings::*Member>
std::string ShowNameList(const LibrarySettings& library) {
  std::string text;
  for (const std::string& name : library.*Member) text += (text.empty() ? "" : ", ") + name;
  return text;
}

using D = SimDevice;
const KeyDef<SimDevice> DeviceKeys[] = {
    {"path", SetText<D, &D::path, MaxPathLength>, ShowText<D, &D::path>, true,
     WrittenAsText<D, &D::path>},
    {"path-hex", SetTextHex<D, &D::path, MaxPathLength, false>, ShowTextHex<D, &D::path>, false,
     WrittenAsHex<D, &D::path>},
    {"chip-type", SetInt<D, &D::chipType>, ShowInt<D, &D::chipType>, true},
    {"running-mode", SetInt<D, &D::runningMode>, ShowInt<D, &D::runningMode>, true},
    {"version", SetText<D, &D::version, MaxVersionLength>, ShowText<D, &D::version>, true,
     WrittenAsText<D, &D::version>},
    {"version-hex", SetTextHex<D, &D::version, MaxVersionLength, true>, ShowTextHex<D, &D::version>,
     false, WrittenAsHex<D, &D::version>},
    {"image-fits", SetBool<D, &D::imageFits>, ShowBool<D, &D::imageFits>, true},
    {"vendor", SetText<D, &D::vendor, MaxVendorLength>, ShowText<D, &D::vendor>, true,
     WrittenAsText<D, &D::vendor>},
    {"vendor-hex", SetTextHex<D, &D::vendor, MaxVendorLength, true>, ShowTextHex<D, &D::vendor>,
     false, WrittenAsHex<D, &D::vendor>},
    {"product", SetText<D, &D::product, MaxProductLength>, ShowText<D, &D::product>, true,
     WrittenAsText<D, &D::product>},
    {"product-hex", SetTextHex<D, &D::product, MaxProductLength, true>, ShowTextHex<D, &D::product>,
     false, WrittenAsHex<D, &D::product>},
    {"pending-version", SetText<D, &D::pendingVersion, MaxVersionLength>,
     ShowText<D, &D::pendingVersion>, false},
    {"chip-type-result", SetOptionalInt<D, &D::chipTypeResult>,
     ShowOptionalInt<D, &D::chipTypeResult>, false},
    {"running-mode-result", SetOptionalInt<D, &D::runningModeResult>,
     ShowOptionalInt<D, &D::runningModeResult>, false},
    {"version-result", SetOptionalInt<D, &D::versionResult>, ShowOptionalInt<D, &D::versionResult>,
     false},
    {"image-check-result", SetOptionalInt<D, &D::imageCheckResult>,
     ShowOptionalInt<D, &D::imageCheckResult>, false},
    {"inquiry-result", SetOptionalInt<D, &D::inquiryResult>, ShowOptionalInt<D, &D::inquiryResult>,
     false},
    {"program-ms", SetProgramMs, ShowInt<D, &D::programMs>, false},
    {"program-succeeds", SetBool<D, &D::programSucceeds>, ShowBool<D, &D::programSucceeds>, false},
    {"program-result", SetOptionalInt<D, &D::programResult>, ShowOptionalInt<D, &D::programResult>,
     false},
    {"program-version", SetText<D, &D::programVersion, MaxVersionLength>,
     ShowText<D, &D::programVersion>, false},
};

using L = LibrarySettings;
const KeyDef<LibrarySettings> LibraryKeys[] = {
    {"device-list-result", SetInt<L, &L::deviceListResult>, ShowInt<L, &L::deviceListResult>,
     false},
    {"setter-result", SetInt<L, &L::setterResult>, ShowInt<L, &L::setterResult>, false},
    {"settings-table-result", SetInt<L, &L::settingsTableResult>,
     ShowInt<L, &L::settingsTableResult>, false},
    {"device-count", SetOptionalInt<L, &L::deviceCount>, ShowOptionalInt<L, &L::deviceCount>,
     false},
    {"unterminated-paths", SetBool<L, &L::unterminatedPaths>, ShowBool<L, &L::unterminatedPaths>,
     false},
    {"unterminated-version", SetBool<L, &L::unterminatedVersion>,
     ShowBool<L, &L::unterminatedVersion>, false},
    {"inquiry-hex", SetInquiryHex, ShowInquiryHex, false},
    {"stall", SetTimedMisbehaviour<&L::stall>, ShowTimedMisbehaviour<&L::stall>, false},
    {"pump", SetTimedMisbehaviour<&L::pump>, ShowTimedMisbehaviour<&L::pump>, false},
    {"crash", SetNameList<&L::crash>, ShowNameList<&L::crash>, false},
    {"message-window", SetNameList<&L::messageWindow>, ShowNameList<&L::messageWindow>, false},
    {"modal-message", SetTimedMisbehaviour<&L::modalMessage>,
     ShowTimedMisbehaviour<&L::modalMessage>, false},
    {"throw", SetNameList<&L::throwCpp>, ShowNameList<&L::throwCpp>, false},
    {"overflow", SetNameList<&L::overflow>, ShowNameList<&L::overflow>, false},
    {"overwrite-slot-pointers", SetBool<L, &L::overwriteSlotPointers>,
     ShowBool<L, &L::overwriteSlotPointers>, false},
    {"overrun", SetOverrun, ShowInt<L, &L::overrun>, false},
};

template <typename T, std::size_t N>
std::string ApplyKey(const KeyDef<T> (&keys)[N], std::string_view section, T& t,
                     std::string_view key, std::string_view value) {
  for (const KeyDef<T>& def : keys) {
    if (def.name == key) {
      std::string error = def.apply(t, value);
      return error.empty() ? error : std::string(key) + ": " + error;
    }
  }
  std::string known;
  for (const KeyDef<T>& def : keys) known += (known.empty() ? "" : ", ") + std::string(def.name);
  return "unknown key '" + std::string(key) + "' in " + std::string(section) + " (known: " + known +
         ")";
}

template <typename T, std::size_t N>
std::vector<std::string> KeyValuePairs(const KeyDef<T> (&keys)[N], const T& t) {
  const T fresh{};
  std::vector<std::string> pairs;
  for (const KeyDef<T>& def : keys) {
    if (def.written && !def.written(t)) continue;
    std::string value = def.show(t);
    if (def.basic || value != def.show(fresh)) pairs.push_back(std::string(def.name) + "=" + value);
  }
  return pairs;
}

}  // namespace

std::string ApplyDeviceKey(SimDevice& device, std::string_view key, std::string_view value) {
  return ApplyKey(DeviceKeys, "[device]", device, key, value);
}

std::string ApplyLibraryKey(LibrarySettings& library, std::string_view key,
                            std::string_view value) {
  return ApplyKey(LibraryKeys, "[library]", library, key, value);
}

std::vector<std::string> KeyValues(const SimDevice& device) {
  return KeyValuePairs(DeviceKeys, device);
}

std::vector<std::string> KeyValues(const LibrarySettings& library) {
  return KeyValuePairs(LibraryKeys, library);
}

}  // namespace sim
