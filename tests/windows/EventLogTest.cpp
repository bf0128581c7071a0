// The Application log as administrators read it: Event Viewer's own API (wevtapi.dll, loaded at
// run time) renders every event the programs report from the message table flashwright-cli.exe
// carries, with its insertion strings, and an event a real run reported renders with the device's
// own text, a "%%1" in it kept as text. The events a run reports stay in the Application log.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <sddl.h>
#include <winevt.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Trail.h"
#include "platform/UniqueResource.h"
#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"
#include "tests/windows/Kit.h"
#include "tests/windows/ProgramRuns.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::win32::Utf8ToWide;
using platform::win32::WideToUtf8;

constexpr DWORD Updated = 3010;
constexpr wchar_t Source[] = L"Flashwright";
constexpr wchar_t SourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Flashwright";
// Every event the programs report.
constexpr platform::Event Events[] = {
    platform::Event::Updated,     platform::Event::Failed, platform::Event::PendingPowerCycle,
    platform::Event::Interrupted, platform::Event::Busy,   platform::Event::DidNotTake,
};

// Event Viewer's functions, from wevtapi.dll.
struct EventViewerApi {
  platform::UniqueResource<HMODULE, platform::win32::CloseWith<&FreeLibrary>> module;
  decltype(&EvtOpenPublisherMetadata) openPublisherMetadata = nullptr;
  decltype(&EvtFormatMessage) formatMessage = nullptr;
  decltype(&EvtQuery) query = nullptr;
  decltype(&EvtNext) next = nullptr;
  decltype(&EvtRender) render = nullptr;
  decltype(&EvtCreateRenderContext) createRenderContext = nullptr;
  decltype(&EvtClose) close = nullptr;

  template <class Function>
  bool Resolve(const char* name, Function& function) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): resolved by its documented name
    function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module.Get(), name)));
    return function != nullptr;
  }
  // Empty when every function was found, else what was missing.
  std::string Load() {
    module.Reset(LoadLibraryExW(L"wevtapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module) return "wevtapi.dll: " + kit::ErrorText(GetLastError());
    const bool all = Resolve("EvtOpenPublisherMetadata", openPublisherMetadata) &&
                     Resolve("EvtFormatMessage", formatMessage) && Resolve("EvtQuery", query) &&
                     Resolve("EvtNext", next) && Resolve("EvtRender", render) &&
                     Resolve("EvtCreateRenderContext", createRenderContext) &&
                     Resolve("EvtClose", close);
    return all ? std::string() : "wevtapi.dll lacks a function";
  }
};

struct CloseEvt {
  decltype(&EvtClose) release = nullptr;
  void operator()(EVT_HANDLE handle) const { release(handle); }
};
using EvtHandle = platform::UniqueResource<EVT_HANDLE, CloseEvt>;

// The message `id` formatted by Event Viewer's API: the event's message when `event` is given,
// else the message `id` with `values`; or the error.
struct Formatted {
  std::wstring text;
  std::string error;
};
Formatted Format(const EventViewerApi& api, EVT_HANDLE metadata, EVT_HANDLE event, DWORD id,
                 std::vector<EVT_VARIANT>& values) {
  const DWORD flags = event ? EvtFormatMessageEvent : EvtFormatMessageId;
  const DWORD count = event ? 0 : static_cast<DWORD>(values.size());
  EVT_VARIANT* given = event ? nullptr : values.data();
  DWORD used = 0;
  if (!api.formatMessage(metadata, event, event ? 0 : id, count, given, flags, 0, nullptr, &used) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {{}, "EvtFormatMessage: " + kit::ErrorText(GetLastError())};
  }
  std::wstring text(used, L'\0');
  if (!api.formatMessage(metadata, event, event ? 0 : id, count, given, flags, used, text.data(),
                         &used)) {
    return {{}, "EvtFormatMessage: " + kit::ErrorText(GetLastError())};
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return {text, {}};
}

// The message table's own text of `id` in flashwright-cli.exe, its %1 to %5 replaced with
// `strings` as the event log's formatting does; nothing when the table has no such message.
std::optional<std::wstring> Expected(HMODULE messages, DWORD id,
                                     const std::vector<std::wstring>& strings) {
  wchar_t* raw = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      messages, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&raw),
      0, nullptr);
  if (length == 0) return std::nullopt;
  const platform::win32::UniqueLocalMemory owned(raw);
  const std::wstring table(raw, length);
  std::wstring text;
  for (std::size_t at = 0; at < table.size(); ++at) {
    const bool insert = table[at] == L'%' && at + 1 < table.size() && table[at + 1] >= L'1' &&
                        table[at + 1] <= L'9';
    if (!insert) {
      text += table[at];
      continue;
    }
    const std::size_t index = static_cast<std::size_t>(table[++at] - L'1');
    if (index < strings.size()) text += strings[index];
  }
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return text;
}

// The event source registered for the test with the message file `file`, as the installer
// registers it; put back as it was (or removed) afterwards.
class SourceRegistered {
 public:
  explicit SourceRegistered(const fs::path& file) {
    HKEY raw = nullptr;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SourceKey, 0, nullptr, 0,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, &disposition);
    if (status != ERROR_SUCCESS) {
      why_ = "cannot register the event source: " + kit::ErrorText(static_cast<DWORD>(status));
      return;
    }
    key_.Reset(raw);
    created_ = disposition == REG_CREATED_NEW_KEY;
    for (Saved& value : saved_) {
      DWORD size = 0;
      if (RegQueryValueExW(key_.Get(), value.name, nullptr, &value.type, nullptr, &size) ==
          ERROR_SUCCESS) {
        value.bytes.resize(size);
        value.present = RegQueryValueExW(key_.Get(), value.name, nullptr, &value.type,
                                         value.bytes.data(), &size) == ERROR_SUCCESS;
      }
    }
    const std::wstring path = file.wstring();
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    status = RegSetValueExW(key_.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(path.c_str()),
                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS) {
      status = RegSetValueExW(key_.Get(), L"TypesSupported", 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    if (status != ERROR_SUCCESS) {
      why_ = "cannot name the message file: " + kit::ErrorText(static_cast<DWORD>(status));
    }
  }
  SourceRegistered(const SourceRegistered&) = delete;
  SourceRegistered& operator=(const SourceRegistered&) = delete;
  ~SourceRegistered() {
    if (!key_) return;
    if (created_) {
      key_.Reset();
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, SourceKey);
      return;
    }
    for (const Saved& value : saved_) {
      if (value.present) {
        RegSetValueExW(key_.Get(), value.name, 0, value.type, value.bytes.data(),
                       static_cast<DWORD>(value.bytes.size()));
      } else {
        RegDeleteValueW(key_.Get(), value.name);
      }
    }
  }
  const std::string& Why() const { return why_; }

 private:
  struct Saved {
    const wchar_t* name;
    DWORD type = 0;
    std::vector<BYTE> bytes;
    bool present = false;
  };
  platform::win32::UniqueKey key_;
  bool created_ = false;
  Saved saved_[2] = {Saved{L"EventMessageFile", 0, {}, false},
                     Saved{L"TypesSupported", 0, {}, false}};
  std::string why_;
};

// A folder under ProgramData that every account may read (the event log service among them), for
// the message file; removed afterwards, or at the next start when something still has it open.
class ReadableFolder {
 public:
  ReadableFolder()
      : path_(kit::DataFolderPath().parent_path() /
              ("Flashwright-windows-tests-" + std::to_string(GetCurrentProcessId()))) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;WD)", SDDL_REVISION_1, &raw,
            nullptr)) {
      why_ =
          "ConvertStringSecurityDescriptorToSecurityDescriptor: " + kit::ErrorText(GetLastError());
      return;
    }
    const platform::win32::UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    if (!CreateDirectoryW(path_.c_str(), &attributes)) {
      why_ = "cannot make " + path_.string() + ": " + kit::ErrorText(GetLastError());
    }
  }
  ReadableFolder(const ReadableFolder&) = delete;
  ReadableFolder& operator=(const ReadableFolder&) = delete;
  ~ReadableFolder() {
    std::error_code error;
    fs::remove_all(path_, error);
    if (!error) return;
    for (const auto& entry : fs::directory_iterator(path_, error)) {
      MoveFileExW(entry.path().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    MoveFileExW(path_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  const fs::path& Path() const { return path_; }
  const std::string& Why() const { return why_; }

 private:
  fs::path path_;
  std::string why_;
};

// The insertion strings of an event the log holds (a classic event's data), in order.
std::vector<std::wstring> StringsOf(const EventViewerApi& api, EVT_HANDLE context,
                                    EVT_HANDLE event) {
  DWORD used = 0, count = 0;
  api.render(context, event, EvtRenderEventValues, 0, nullptr, &used, &count);
  std::vector<BYTE> buffer(used + sizeof(EVT_VARIANT));
  if (!api.render(context, event, EvtRenderEventValues, static_cast<DWORD>(buffer.size()),
                  buffer.data(), &used, &count)) {
    return {};
  }
  std::vector<std::wstring> strings;
  const auto* values = reinterpret_cast<const EVT_VARIANT*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    strings.emplace_back(
        values[i].Type == EvtVarTypeString && values[i].StringVal ? values[i].StringVal : L"");
  }
  return strings;
}

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

// Every event ID the programs report renders through Event Viewer's API as the message table
// words it, the given strings in their places. Then a real update reports its event, which is read
// back by its source and ID and renders with its own strings: the device's text, "%%1" and "%1"
// in it, stays as it was given.
TEST(EventLog, EventViewerRendersEveryEventAndTheDeviceTextStaysText) {
  NEEDS_WINDOWS("Event Viewer's rendering (wevtapi)");
  EventViewerApi api;
  ASSERT_EQ(api.Load(), "");
  const std::string path = kit::FreshDevicePath("events");
  const kit::LeftAsFound cleanup(path);
  const ReadableFolder folder;
  ASSERT_EQ(folder.Why(), "");
  const fs::path messageFile = folder.Path() / "flashwright-cli.exe";
  std::error_code copied;
  ASSERT_TRUE(fs::copy_file(kit::ProgramsDir() / "flashwright-cli.exe", messageFile, copied))
      << copied.message();
  const SourceRegistered source(messageFile);
  ASSERT_EQ(source.Why(), "");

  const platform::UniqueResource<HMODULE, platform::win32::CloseWith<&FreeLibrary>> messages(
      LoadLibraryExW(messageFile.c_str(), nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(messages) << kit::ErrorText(GetLastError());
  {
    const EvtHandle metadata(api.openPublisherMetadata(nullptr, Source, nullptr, 0, 0),
                             CloseEvt{api.close});
    ASSERT_TRUE(metadata) << "EvtOpenPublisherMetadata: " << kit::ErrorText(GetLastError());

    const std::vector<std::wstring> strings = {L"flashwright-cli", Utf8ToWide(path),
                                               L"FWTEST  Unit %%1 %1", L"00.01.01.04",
                                               L"the event's own detail"};
    std::vector<EVT_VARIANT> values;
    for (const std::wstring& text : strings) {
      EVT_VARIANT value{};
      value.StringVal = text.c_str();
      value.Type = EvtVarTypeString;
      values.push_back(value);
    }
    for (const platform::Event event : Events) {
      const auto id = static_cast<DWORD>(event);
      SCOPED_TRACE("event " + std::to_string(id));
      const std::optional<std::wstring> expected = Expected(messages.Get(), id, strings);
      ASSERT_TRUE(expected.has_value()) << "flashwright-cli.exe has no message " << id;
      const Formatted rendered = Format(api, metadata.Get(), nullptr, id, values);
      ASSERT_EQ(rendered.error, "");
      EXPECT_EQ(Narrow(rendered.text), Narrow(*expected));
    }

    // An update of a device whose text holds insertion marks, reported as the programs report it.
    kit::SimulatedCli cli("events");
    cli.WriteWorld(kit::OneDeviceWorld(path, "Unit %%1 %1"));
    const auto run = cli.Run("update");
    ASSERT_EQ(run.exitCode, Updated) << run.out << run.err;

    const EvtHandle userValues(api.createRenderContext(0, nullptr, EvtRenderContextUser),
                               CloseEvt{api.close});
    ASSERT_TRUE(userValues) << "EvtCreateRenderContext: " << kit::ErrorText(GetLastError());
    const std::wstring query = L"*[System[Provider[@Name='Flashwright'] and EventID=" +
                               std::to_wstring(static_cast<int>(platform::Event::Updated)) + L"]]";
    std::optional<std::vector<std::wstring>> reported;
    // The result set the event was found in outlives the event's handle.
    EvtHandle results(nullptr, CloseEvt{api.close});
    EvtHandle event(nullptr, CloseEvt{api.close});
    std::string queryError;
    // The log may take a moment to hold the event: asked again until it does.
    e2e::WaitUntil(
        [&] {
          results.Reset(api.query(nullptr, L"Application", query.c_str(),
                                  EvtQueryChannelPath | EvtQueryReverseDirection));
          if (!results) {
            queryError = "EvtQuery: " + kit::ErrorText(GetLastError());
            return false;
          }
          EVT_HANDLE batch[16];
          DWORD returned = 0;
          for (int batches = 0; batches < 8 && !reported; ++batches) {
            if (!api.next(results.Get(), 16, batch, 1000, 0, &returned)) break;
            for (DWORD i = 0; i < returned; ++i) {
              EvtHandle one(batch[i], CloseEvt{api.close});
              std::vector<std::wstring> found = StringsOf(api, userValues.Get(), one.Get());
              if (!reported && found.size() > 1 && found[1] == Utf8ToWide(path)) {
                reported = std::move(found);
                event = std::move(one);
              }
            }
          }
          return reported.has_value();
        },
        15s);
    ASSERT_TRUE(reported.has_value()) << "no event " << static_cast<int>(platform::Event::Updated)
                                      << " of " << path << " in the Application log " << queryError;
    ASSERT_EQ(reported->size(), 5u);
    EXPECT_NE(Narrow((*reported)[2]).find("Unit %%1 %1"), std::string::npos)
        << Narrow((*reported)[2]);
    std::vector<EVT_VARIANT> none;
    const Formatted rendered = Format(api, metadata.Get(), event.Get(),
                                      static_cast<DWORD>(platform::Event::Updated), none);
    ASSERT_EQ(rendered.error, "");
    const std::optional<std::wstring> expected =
        Expected(messages.Get(), static_cast<DWORD>(platform::Event::Updated), *reported);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(Narrow(rendered.text), Narrow(*expected));
    EXPECT_NE(Narrow(rendered.text).find("Unit %%1 %1"), std::string::npos)
        << Narrow(rendered.text);
  }
}

}  // namespace
