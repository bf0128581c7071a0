// The attempt records in the registry; see AttemptRegistry.h.
#include "platform/win32/AttemptRegistry.h"

#include <cstring>
#include <optional>
#include <string>

#include "platform/UniqueResource.h"
#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif
#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif

// 100-ns intervals from 1601 to 1970.
constexpr std::uint64_t UnixEpochAsFileTime = 116444736000000000ULL;

std::uint64_t FromFileTime(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The subkey of a device: 16 hex digits of the FNV-1a hash of its path. The path itself is kept
// in the record, and a record whose subkey is not its path's is not taken for the device's.
std::wstring SubkeyName(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  std::wstring name(16, L'0');
  for (std::size_t i = 16; i-- > 0; hash >>= 4) name[i] = L"0123456789ABCDEF"[hash & 0xF];
  return name;
}

std::string ErrorText(LSTATUS status) {
  char text[256] = "";
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(status), 0, text, sizeof text, nullptr) == 0) {
    return "error " + std::to_string(status);
  }
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

UniqueKey OpenAttempts(REGSAM access, bool create, LSTATUS& status) {
  HKEY key = nullptr;
  if (create) {
    status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, RegistryAttemptStore::AttemptsKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, access | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  } else {
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, RegistryAttemptStore::AttemptsKey, 0,
                           access | KEY_WOW64_64KEY, &key);
  }
  return UniqueKey(status == ERROR_SUCCESS ? key : nullptr);
}

std::optional<std::string> ReadBytes(HKEY key, const wchar_t* name, DWORD expectedType) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != expectedType || size > 4096) {
    return std::nullopt;
  }
  std::string bytes(size, '\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  return bytes;
}

// Texts of our own (program, outcome) are plain ASCII, kept as REG_SZ so that an admin reads them.
std::optional<std::string> ReadText(HKEY key, const wchar_t* name) {
  const std::optional<std::string> bytes = ReadBytes(key, name, REG_SZ);
  if (!bytes) return std::nullopt;
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes->size(); i += 2) {
    const auto unit = static_cast<unsigned char>((*bytes)[i]) |
                      (static_cast<unsigned char>((*bytes)[i + 1]) << 8);
    if (unit == 0) break;
    if (unit > 0x7F) return std::nullopt;
    text += static_cast<char>(unit);
  }
  return text;
}

template <class Number>
std::optional<Number> ReadNumber(HKEY key, const wchar_t* name) {
  constexpr DWORD Type = sizeof(Number) == 4 ? REG_DWORD : REG_QWORD;
  const std::optional<std::string> bytes = ReadBytes(key, name, Type);
  if (!bytes || bytes->size() != sizeof(Number)) return std::nullopt;
  Number number{};
  std::memcpy(&number, bytes->data(), sizeof number);
  return number;
}

LSTATUS WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size) {
  return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size));
}

LSTATUS WriteText(HKEY key, const wchar_t* name, const std::string& ascii) {
  const std::wstring wide(ascii.begin(), ascii.end());
  return WriteValue(key, name, REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
}

// The configuration manager's calls that tell when a device arrived, taken from cfgmgr32.dll when
// first asked (not imported: a system without them only cannot tell). Their types are spelled
// here, as the SDK's headers do not all declare them.
struct DevicePropertyKey {  // DEVPROPKEY
  GUID category;
  ULONG id;
};
using GetInterfaceProperty = DWORD(WINAPI*)(const wchar_t* interfacePath,
                                            const DevicePropertyKey* key, ULONG* type, BYTE* buffer,
                                            ULONG* size, ULONG flags);
using LocateDevNode = DWORD(WINAPI*)(DWORD* node, wchar_t* instanceId, ULONG flags);
using GetDevNodeProperty = DWORD(WINAPI*)(DWORD node, const DevicePropertyKey* key, ULONG* type,
                                          BYTE* buffer, ULONG* size, ULONG flags);
// An arrival this soon after the system started is taken for the start's own enumeration.
constexpr std::int64_t StartSeconds = std::int64_t{5} * 60;
constexpr DWORD ConfigSuccess = 0;             // CR_SUCCESS
constexpr ULONG StringProperty = 0x12;         // DEVPROP_TYPE_STRING
constexpr ULONG FileTimeProperty = 0x10;       // DEVPROP_TYPE_FILETIME
constexpr DevicePropertyKey InstanceIdKey = {  // DEVPKEY_Device_InstanceId
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}},
    256};
constexpr DevicePropertyKey LastArrivalKey = {  // DEVPKEY_Device_LastArrivalDate
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}},
    102};

template <typename Function>
Function ConfigFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// The library's device path (ANSI bytes) as the interface path the configuration manager knows.
std::wstring InterfacePath(const std::string& path) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  }
  // The same path in the form the interface is registered under.
  if (wide.rfind(L"\\\\.\\", 0) == 0) wide[2] = L'?';
  return wide;
}

}  // namespace

std::vector<AttemptRecord> RegistryAttemptStore::Load() {
  std::vector<AttemptRecord> records;
  LSTATUS status = ERROR_SUCCESS;
  const UniqueKey attempts = OpenAttempts(KEY_READ, false, status);
  if (!attempts) return records;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    const LSTATUS enumerated =
        RegEnumKeyExW(attempts.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (enumerated == ERROR_NO_MORE_ITEMS) break;
    if (enumerated != ERROR_SUCCESS) continue;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(attempts.Get(), name, 0, KEY_READ | KEY_WOW64_64KEY, &raw) != ERROR_SUCCESS) {
      continue;
    }
    const UniqueKey key(raw);
    const auto path = ReadBytes(key.Get(), L"Path", REG_BINARY);
    const auto identity = ReadBytes(key.Get(), L"Identity", REG_BINARY);
    const auto versionBefore = ReadBytes(key.Get(), L"VersionBefore", REG_BINARY);
    const auto program = ReadText(key.Get(), L"Program");
    const auto processId = ReadNumber<std::uint32_t>(key.Get(), L"ProcessId");
    const auto processCreated = ReadNumber<std::uint64_t>(key.Get(), L"ProcessCreated");
    const auto started = ReadNumber<std::uint64_t>(key.Get(), L"Started");
    const auto outcome = ReadText(key.Get(), L"Outcome");
    const auto ended = ReadNumber<std::uint64_t>(key.Get(), L"Ended");
    // Records written before it was kept have none: not seen gone.
    const auto seenGone = ReadNumber<std::uint32_t>(key.Get(), L"SeenGone");
    // A record not whole (or not ours to read) is left out; the next attempt rewrites it.
    if (!path || path->empty() || path->size() > 259 || !identity || !versionBefore || !program ||
        !processId || !processCreated || !started || !outcome || !ended) {
      continue;
    }
    AttemptRecord record;
    record.path = *path;
    record.identity = *identity;
    record.versionBefore = *versionBefore;
    record.program = *program;
    record.process = {*processId, *processCreated};
    record.started = static_cast<std::int64_t>(*started);
    record.outcome = *outcome;
    record.ended = static_cast<std::int64_t>(*ended);
    record.seenGone = seenGone.value_or(0) != 0;
    record.key = WideToUtf8(std::wstring_view(name, length));
    records.push_back(std::move(record));
  }
  return records;
}

std::string RegistryAttemptStore::Save(const AttemptRecord& record) {
  LSTATUS status = ERROR_SUCCESS;
  const UniqueKey attempts = OpenAttempts(KEY_CREATE_SUB_KEY, true, status);
  if (!attempts) return "HKLM\\SOFTWARE\\Flashwright\\Attempts: " + ErrorText(status);
  HKEY raw = nullptr;
  status = RegCreateKeyExW(
      attempts.Get(), SubkeyName(record.path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
      KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS) return "HKLM\\SOFTWARE\\Flashwright\\Attempts: " + ErrorText(status);
  const UniqueKey key(raw);
  const std::uint32_t processId = record.process.id;
  const std::uint32_t seenGone = record.seenGone ? 1 : 0;
  const std::uint64_t numbers[] = {record.process.created,
                                   static_cast<std::uint64_t>(record.started),
                                   static_cast<std::uint64_t>(record.ended)};
  // The outcome last: a record cut short while written reads as not whole, and is left out.
  const LSTATUS results[] = {
      WriteValue(key.Get(), L"Path", REG_BINARY, record.path.data(), record.path.size()),
      WriteValue(key.Get(), L"Identity", REG_BINARY, record.identity.data(),
                 record.identity.size()),
      WriteValue(key.Get(), L"VersionBefore", REG_BINARY, record.versionBefore.data(),
                 record.versionBefore.size()),
      WriteText(key.Get(), L"Program", record.program),
      WriteValue(key.Get(), L"ProcessId", REG_DWORD, &processId, sizeof processId),
      WriteValue(key.Get(), L"ProcessCreated", REG_QWORD, &numbers[0], sizeof numbers[0]),
      WriteValue(key.Get(), L"Started", REG_QWORD, &numbers[1], sizeof numbers[1]),
      WriteValue(key.Get(), L"Ended", REG_QWORD, &numbers[2], sizeof numbers[2]),
      WriteValue(key.Get(), L"SeenGone", REG_DWORD, &seenGone, sizeof seenGone),
      WriteText(key.Get(), L"Outcome", record.outcome),
  };
  for (const LSTATUS result : results) {
    if (result != ERROR_SUCCESS)
      return "HKLM\\SOFTWARE\\Flashwright\\Attempts: " + ErrorText(result);
  }
  // On disk before the programming call, so that a power loss still leaves the intent.
  status = RegFlushKey(key.Get());
  if (status != ERROR_SUCCESS) return "HKLM\\SOFTWARE\\Flashwright\\Attempts: " + ErrorText(status);
  return {};
}

void RegistryAttemptStore::Remove(const std::string& key) {
  if (key.empty()) return;
  LSTATUS status = ERROR_SUCCESS;
  const UniqueKey attempts = OpenAttempts(DELETE | KEY_ENUMERATE_SUB_KEYS, false, status);
  if (!attempts) return;
  RegDeleteKeyExW(attempts.Get(), Utf8ToWide(key).c_str(), KEY_WOW64_64KEY, 0);
}

std::string RegistryAttemptStore::KeyOf(const std::string& path) {
  return WideToUtf8(SubkeyName(path));
}

// The device's interface path to its instance, and that instance's last arrival. Windows 8 and
// later keep the arrival; anything missing on the way (the calls, the interface, the property, as
// under Wine, whose simulated devices have no interface) is "cannot tell".
std::optional<std::int64_t> RegistryAttemptStore::LastArrival(const std::string& path) {
  if (!configLoaded_) {
    configLoaded_ = true;
    configManager_.Reset(LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  }
  const HMODULE module = configManager_.Get();
  const auto interfaceProperty =
      ConfigFunction<GetInterfaceProperty>(module, "CM_Get_Device_Interface_PropertyW");
  const auto locate = ConfigFunction<LocateDevNode>(module, "CM_Locate_DevNodeW");
  const auto nodeProperty = ConfigFunction<GetDevNodeProperty>(module, "CM_Get_DevNode_PropertyW");
  if (!interfaceProperty || !locate || !nodeProperty) return std::nullopt;

  const std::wstring interfacePath = InterfacePath(path);
  wchar_t instance[512] = L"";
  ULONG type = 0;
  ULONG size = sizeof instance - sizeof instance[0];
  if (interfacePath.empty() ||
      interfaceProperty(interfacePath.c_str(), &InstanceIdKey, &type,
                        reinterpret_cast<BYTE*>(instance), &size, 0) != ConfigSuccess ||
      type != StringProperty) {
    return std::nullopt;
  }
  instance[std::min<std::size_t>(size / sizeof instance[0], std::size(instance) - 1)] = L'\0';
  DWORD node = 0;
  if (locate(&node, instance, 0) != ConfigSuccess) return std::nullopt;
  FILETIME arrived{};
  size = sizeof arrived;
  if (nodeProperty(node, &LastArrivalKey, &type, reinterpret_cast<BYTE*>(&arrived), &size, 0) !=
          ConfigSuccess ||
      type != FileTimeProperty || size != sizeof arrived) {
    return std::nullopt;
  }
  const std::uint64_t time = FromFileTime(arrived);
  if (time < UnixEpochAsFileTime) return std::nullopt;
  const auto seconds = static_cast<std::int64_t>((time - UnixEpochAsFileTime) / 10000000ULL);
  // Found as the system started: a restart, which may have kept the device powered.
  const std::int64_t started = Now() - static_cast<std::int64_t>(GetTickCount64() / 1000);
  if (seconds <= started + StartSeconds) return std::nullopt;
  return seconds;
}

ProcessIdentity RegistryAttemptStore::Self() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return {GetCurrentProcessId(), FromFileTime(created)};
}

bool RegistryAttemptStore::Running(const ProcessIdentity& process) {
  const UniqueHandle handle(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process.id));
  // A process is the record's only by its id and creation time: one whose creation time cannot be
  // read (an elevated program may look at any but protected processes, which ours never are) is
  // not it.
  if (!handle) return false;
  if (WaitForSingleObject(handle.Get(), 0) != WAIT_TIMEOUT) return false;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(handle.Get(), &created, &exited, &kernel, &user)) return true;
  // The same id for a later process is not the one that made the record.
  return FromFileTime(created) == process.created;
}

std::int64_t RegistryAttemptStore::Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>((FromFileTime(now) - UnixEpochAsFileTime) / 10000000ULL);
}

}  // namespace platform::win32
