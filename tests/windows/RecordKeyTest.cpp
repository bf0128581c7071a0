// The attempt records in the real registry: a record an update leaves is on disk (RegFlushKey
// passes Windows' access check with the access the records' key is opened with), reads back
// whole, and no one without administrator rights can write or re-permission it.
#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win32/AttemptRegistry.h"
#include "tests/windows/Kit.h"
#include "tests/windows/ProgramRuns.h"
#include "update/Attempts.h"

namespace {

using platform::AttemptRecord;
using platform::win32::RegistryAttemptStore;

constexpr DWORD Updated = 3010;

auto Fields(const AttemptRecord& record) {
  return std::tie(record.path, record.identity, record.versionBefore, record.program,
                  record.process.id, record.process.created, record.started, record.outcome,
                  record.ended, record.seenGone, record.key);
}

std::optional<AttemptRecord> RecordOf(const std::string& path) {
  for (AttemptRecord& record : RegistryAttemptStore().Load()) {
    if (record.path == path) return record;
  }
  return std::nullopt;
}

// Every way to change the records that is to be refused to someone without administrator rights:
// what was let through, each with what it was.
std::vector<std::string> TryAgainstRecords() {
  std::vector<std::string> letThrough;
  const std::wstring attempts = RegistryAttemptStore::AttemptsKey;
  const auto refused = [&](const char* what, LSTATUS status, HKEY opened) {
    if (opened != nullptr) RegCloseKey(opened);
    if (status == ERROR_SUCCESS) {
      letThrough.push_back(what);
    } else if (status != ERROR_ACCESS_DENIED) {
      letThrough.push_back(std::string(what) + " failed otherwise than denied: " +
                           kit::ErrorText(static_cast<DWORD>(status)));
    }
  };

  // Through the programs' own code: a record of a device no one has.
  RegistryAttemptStore store;
  AttemptRecord planted;
  planted.path = kit::FreshDevicePath("planted");
  planted.identity = "PLANTED";
  planted.versionBefore = "00.01.01.07";
  planted.program = "planted";
  planted.outcome = "updated";
  if (store.Save(planted).empty()) {
    letThrough.push_back("saving a record through the programs' own code");
    store.Remove(store.KeyOf(planted.path));
  }

  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, (attempts + L"\\Planted").c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
  refused("creating a record's key", status, key);

  // The keys that are there, and the records in them.
  std::vector<std::wstring> present;
  for (const std::wstring& path : {std::wstring(RegistryAttemptStore::RootKey), attempts}) {
    key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
      continue;
    }
    present.push_back(path);
    if (path == attempts) {
      wchar_t name[256];
      DWORD length = 256;
      if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
          ERROR_SUCCESS) {
        present.push_back(attempts + L"\\" + std::wstring(name, length));
      }
    }
    RegCloseKey(key);
  }
  for (const std::wstring& path : present) {
    const struct {
      const char* what;
      REGSAM access;
    } tries[] = {{"setting a value", KEY_SET_VALUE},
                 {"adding a key", KEY_CREATE_SUB_KEY},
                 {"changing the access list", WRITE_DAC},
                 {"taking the key", WRITE_OWNER},
                 {"deleting the key", DELETE}};
    for (const auto& attempt : tries) {
      key = nullptr;
      status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, attempt.access | KEY_WOW64_64KEY,
                             &key);
      const std::string what =
          std::string(attempt.what) + " in HKLM\\" + std::string(path.begin(), path.end());
      refused(what.c_str(), status, key);
    }
  }
  return letThrough;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += "\n  " + item;
  return text;
}

// The record an update through the real command line leaves: the run's process, the device's
// version before, "updated"; saved again through the programs' own Save, which flushes the key it
// opened (RegFlushKey fails there when the access is short of what Windows asks), it reads back
// the same. Someone without administrator rights can change none of it.
TEST(AttemptRecords, AnUpdateLeavesAFlushedRecordOnlyAdministratorsChange) {
  NEEDS_WINDOWS("RegFlushKey's access check and the registry's access lists");
  const std::string path = kit::FreshDevicePath("record");
  const kit::LeftAsFound cleanup(path);
  kit::SimulatedCli cli("record");
  cli.WriteWorld(kit::OneDeviceWorld(path));
  const std::int64_t before = std::time(nullptr);
  const auto run = cli.Run("update");
  ASSERT_EQ(run.exitCode, Updated) << run.out << run.err;

  const std::optional<AttemptRecord> record = RecordOf(path);
  ASSERT_TRUE(record.has_value()) << "no record of " << path;
  RegistryAttemptStore store;
  EXPECT_EQ(record->key, store.KeyOf(path));
  EXPECT_EQ(record->program, update::ProgramName(update::Program::Update));
  EXPECT_EQ(record->outcome, "updated");
  EXPECT_EQ(record->process.id, run.processId);
  EXPECT_EQ(record->versionBefore, "00.01.01.04");
  EXPECT_NE(record->identity.find("FWTEST"), std::string::npos) << record->identity;
  EXPECT_LE(before - 2, record->started);
  EXPECT_LE(record->started, record->ended);
  EXPECT_LE(record->ended, std::time(nullptr) + 2);

  EXPECT_EQ(store.Save(*record), "");
  const std::optional<AttemptRecord> again = RecordOf(path);
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(Fields(*again) == Fields(*record));

  std::vector<std::string> letThrough;
  {
    const kit::WithoutAdministratorRights user;
    ASSERT_TRUE(user.Ok()) << user.Why();
    letThrough = TryAgainstRecords();
  }
  EXPECT_TRUE(letThrough.empty()) << "let through:" << Joined(letThrough);
  const std::optional<AttemptRecord> after = RecordOf(path);
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(Fields(*after) == Fields(*record));
}

// As a standard user: the records (and the key they would be made in, when there are none yet)
// can be neither written nor re-permissioned, through the programs' code or directly.
TEST(StandardUserAttemptRecords, CannotWriteTheRecords) {
  NEEDS_STANDARD_USER();
  ASSERT_FALSE(kit::Virtualized()) << "registry virtualization would answer in HKLM's place";
  const std::vector<std::string> letThrough = TryAgainstRecords();
  EXPECT_TRUE(letThrough.empty()) << "let through:" << Joined(letThrough);
}

}  // namespace
