// The data folder on a real file system with access control: a run makes %ProgramData%\Flashwright,
// Logs and recordings with exactly the security descriptors the programs ask for; a folder another
// account made first is refused and nothing is written in it; and no one without administrator
// rights can write in the folders or hold the log against a run.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/FolderTrust.h"
#include "platform/LogAppend.h"
#include "platform/win32/DataFolder.h"
#include "platform/win32/Owners.h"
#include "tests/windows/Kit.h"
#include "tests/windows/ProgramRuns.h"

namespace {

namespace fs = std::filesystem;
using platform::win32::UniqueFile;
using platform::win32::UniqueLocalMemory;

constexpr DWORD UpdateRequired = 10;  // `status` of a device that needs its update
constexpr char SystemSid[] = "S-1-5-18";
constexpr char AdministratorsSid[] = "S-1-5-32-544";

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "(none)";
  const UniqueLocalMemory owned(text);
  return std::string(text, text + wcslen(text));
}

struct Ace {
  BYTE type = 0;
  BYTE flags = 0;
  ACCESS_MASK mask = 0;
  std::string sid;
  friend bool operator==(const Ace&, const Ace&) = default;
  friend bool operator<(const Ace& a, const Ace& b) {
    return std::tie(a.type, a.flags, a.mask, a.sid) < std::tie(b.type, b.flags, b.mask, b.sid);
  }
};

std::ostream& operator<<(std::ostream& out, const Ace& ace) {
  return out << "{type " << int(ace.type) << ", flags 0x" << std::hex << int(ace.flags)
             << ", mask 0x" << ace.mask << std::dec << ", " << ace.sid << "}";
}

// A descriptor's owner, whether its access list is protected from above, its entries (sorted:
// their order among allowing entries changes nothing) and its text, for messages.
struct Security {
  std::string error;  // empty when read
  std::string owner;
  bool protectedDacl = false;
  bool hasDacl = false;
  std::vector<Ace> aces;
  std::string text;
};

Security Unread(std::string why) {
  Security security;
  security.error = std::move(why);
  return security;
}

Security Describe(PSECURITY_DESCRIPTOR descriptor) {
  Security security;
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    security.error = kit::ErrorText(GetLastError());
    return security;
  }
  security.owner = SidText(owner);
  security.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  security.hasDacl = present && dacl != nullptr;
  for (DWORD i = 0; security.hasDacl && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    Ace ace{header->AceType, header->AceFlags, 0, "(an entry of another layout)"};
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      const auto* simple = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
      ace.mask = simple->Mask;
      ace.sid = SidText(const_cast<DWORD*>(&simple->SidStart));
    }
    security.aces.push_back(ace);
  }
  std::sort(security.aces.begin(), security.aces.end());
  wchar_t* text = nullptr;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    const UniqueLocalMemory owned(text);
    security.text = std::string(text, text + wcslen(text));
  }
  return security;
}

Security Read(const fs::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, nullptr, nullptr, &descriptor);
  const UniqueLocalMemory owned(descriptor);
  if (status != ERROR_SUCCESS) return Unread("GetNamedSecurityInfo: " + kit::ErrorText(status));
  return Describe(descriptor);
}

Security FromText(const wchar_t* text) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return Unread("ConvertStringSecurityDescriptorToSecurityDescriptor: " +
                  kit::ErrorText(GetLastError()));
  }
  const UniqueLocalMemory owned(descriptor);
  return Describe(descriptor);
}

// Moves an existing data folder out of the way for the test and puts it back afterwards.
class DataFolderSetAside {
 public:
  DataFolderSetAside()
      : aside_(kit::DataFolderPath().wstring() + L".set-aside-" +
               std::to_wstring(GetCurrentProcessId())) {
    if (!fs::exists(kit::DataFolderPath())) return;
    if (!MoveFileExW(kit::DataFolderPath().c_str(), aside_.c_str(), 0)) {
      why_ = "cannot set the data folder aside: " + kit::ErrorText(GetLastError());
      return;
    }
    moved_ = true;
  }
  DataFolderSetAside(const DataFolderSetAside&) = delete;
  DataFolderSetAside& operator=(const DataFolderSetAside&) = delete;
  ~DataFolderSetAside() {
    if (!moved_) return;
    for (int attempt = 0; attempt < 40 && fs::exists(kit::DataFolderPath()); ++attempt) {
      std::error_code error;
      fs::remove_all(kit::DataFolderPath(), error);
      if (error) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!MoveFileExW(aside_.c_str(), kit::DataFolderPath().c_str(), 0)) {
      ADD_FAILURE() << "the data folder set aside as " << aside_.string()
                    << " could not be put back: " << kit::ErrorText(GetLastError());
    }
  }
  const std::string& Why() const { return why_; }

 private:
  fs::path aside_;
  bool moved_ = false;
  std::string why_;
};

// Enables one of the token's privileges for the test, and disables it again.
class Privilege {
 public:
  explicit Privilege(const wchar_t* name) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
      why_ = "OpenProcessToken: " + kit::ErrorText(GetLastError());
      return;
    }
    token_ = platform::win32::UniqueHandle(raw);
    TOKEN_PRIVILEGES wanted{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) {
      why_ = "LookupPrivilegeValue: " + kit::ErrorText(GetLastError());
      return;
    }
    DWORD size = sizeof previous_;
    // Succeeds without assigning a privilege the token lacks: ERROR_NOT_ALL_ASSIGNED says so.
    if (!AdjustTokenPrivileges(token_.Get(), FALSE, &wanted, sizeof previous_, &previous_, &size) ||
        GetLastError() != ERROR_SUCCESS) {
      why_ = "AdjustTokenPrivileges: " + kit::ErrorText(GetLastError());
      return;
    }
    adjusted_ = true;
  }
  Privilege(const Privilege&) = delete;
  Privilege& operator=(const Privilege&) = delete;
  ~Privilege() {
    if (adjusted_) AdjustTokenPrivileges(token_.Get(), FALSE, &previous_, 0, nullptr, nullptr);
  }
  const std::string& Why() const { return why_; }

 private:
  platform::win32::UniqueHandle token_;
  TOKEN_PRIVILEGES previous_{};
  bool adjusted_ = false;
  std::string why_;
};

// What an account may try against the data folder to plant a file or hold the log: each is to be
// refused. What was let through is kept open in `held` (a log so held is also locked whole), so
// that a run meanwhile meets it; what was made is listed for removal.
struct Attempts {
  std::vector<std::string> letThrough;  // each with what it was
  std::vector<UniqueFile> held;
  std::vector<fs::path> made;
};

// Whether `path` is there; true when that cannot be told (the attempt on it then answers).
bool Present(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error) || error;
}

void TryAgainstDataFolder(Attempts& attempts) {
  const fs::path data = kit::DataFolderPath();
  const fs::path log = data / "Logs" / "flashwright.log";
  struct Try {
    const char* what;
    fs::path path;
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
    bool lock;
  };
  constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  std::vector<Try> tries = {
      {"a new file in the data folder", data / "planted.txt", GENERIC_WRITE, ShareAll, CREATE_NEW,
       0, false},
      {"the data folder's access list", data, WRITE_DAC, ShareAll, OPEN_EXISTING,
       FILE_FLAG_BACKUP_SEMANTICS, false},
      {"the data folder's owner", data, WRITE_OWNER, ShareAll, OPEN_EXISTING,
       FILE_FLAG_BACKUP_SEMANTICS, false},
      {"the data folder, to rename it away", data, DELETE, ShareAll, OPEN_EXISTING,
       FILE_FLAG_BACKUP_SEMANTICS, false},
  };
  for (const char* leaf : {"Logs", "recordings"}) {
    if (Present(data / leaf)) {
      tries.push_back(
          {leaf, data / leaf / "planted.txt", GENERIC_WRITE, ShareAll, CREATE_NEW, 0, false});
    } else if (CreateDirectoryW((data / leaf).c_str(), nullptr)) {
      attempts.letThrough.push_back(std::string("made the missing folder ") + leaf);
      attempts.made.push_back(data / leaf);
    } else if (GetLastError() != ERROR_ACCESS_DENIED) {
      attempts.letThrough.push_back(
          std::string("making the missing folder ") + leaf +
          " failed otherwise than denied: " + kit::ErrorText(GetLastError()));
    }
  }
  if (Present(data / "Logs")) {
    tries.push_back(
        {"the log, to lock it whole", log, FILE_READ_DATA, ShareAll, OPEN_EXISTING, 0, true});
    tries.push_back({"the log, letting no one write to it", log, GENERIC_READ, FILE_SHARE_READ,
                     OPEN_EXISTING, 0, false});
  }
  for (const Try& attempt : tries) {
    UniqueFile file(CreateFileW(attempt.path.c_str(), attempt.access, attempt.share, nullptr,
                                attempt.disposition, attempt.flags | FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    const DWORD error = GetLastError();
    if (!file) {
      // Denied is the answer; a missing log only means there is nothing to hold yet.
      if (error != ERROR_ACCESS_DENIED) {
        attempts.letThrough.push_back(std::string(attempt.what) +
                                      " failed otherwise than denied: " + kit::ErrorText(error));
      }
      continue;
    }
    attempts.letThrough.push_back(attempt.what);
    if (attempt.disposition == CREATE_NEW) attempts.made.push_back(attempt.path);
    OVERLAPPED whole{};
    if (attempt.lock && !LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                    0, MAXDWORD, MAXDWORD, &whole)) {
      attempts.letThrough.back() += " (opened, though not locked)";
    }
    attempts.held.push_back(std::move(file));
  }
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += "\n  " + item;
  return text;
}

void RemoveMade(Attempts& attempts) {
  attempts.held.clear();
  for (const fs::path& path : attempts.made) {
    std::error_code error;
    fs::remove_all(path, error);
  }
}

// Every folder a run makes, with the owner and access list the programs' descriptors give; the
// log in Logs inherits SYSTEM and Administrators and no one else. recordings is made as the
// recorder and the support desk make it, by the programs' own DataFolder.
TEST(DataFolder, ARunMakesTheFoldersWithTheDescriptorsTheProgramsAskFor) {
  NEEDS_WINDOWS("access control lists on a file system");
  const DataFolderSetAside aside;
  ASSERT_EQ(aside.Why(), "");
  const std::string path = kit::FreshDevicePath("folder");
  const kit::LeftAsFound cleanup(path);
  kit::SimulatedCli cli("folder");
  cli.WriteWorld(kit::OneDeviceWorld(path));
  const auto run = cli.Run("status");
  EXPECT_EQ(run.exitCode, UpdateRequired) << run.out << run.err;
  EXPECT_EQ(run.err.find("shared log"), std::string::npos) << run.err;
  std::string error;
  const std::wstring recordings = platform::win32::DataFolder(L"recordings", error);
  ASSERT_FALSE(recordings.empty()) << error;

  const fs::path data = kit::DataFolderPath();
  const struct {
    fs::path folder;
    const wchar_t* descriptor;
  } folders[] = {
      {data, platform::win32::DataFolderSecurity},
      {data / "Logs", platform::win32::LogsSecurity},
      {recordings, platform::win32::DataFolderSecurity},
  };
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder.folder.string());
    const Security made = Read(folder.folder);
    const Security asked = FromText(folder.descriptor);
    ASSERT_EQ(made.error, "");
    ASSERT_EQ(asked.error, "");
    EXPECT_EQ(made.owner, asked.owner) << made.text;
    EXPECT_TRUE(made.protectedDacl) << made.text;
    EXPECT_TRUE(made.hasDacl) << made.text;
    EXPECT_EQ(made.aces, asked.aces) << "made: " << made.text;
  }

  const fs::path log = data / "Logs" / "flashwright.log";
  ASSERT_TRUE(fs::exists(log));
  const Security logSecurity = Read(log);
  ASSERT_EQ(logSecurity.error, "");
  EXPECT_TRUE(logSecurity.hasDacl);
  for (const Ace& ace : logSecurity.aces) {
    EXPECT_TRUE(ace.sid == SystemSid || ace.sid == AdministratorsSid)
        << "the log lets in " << ace << ": " << logSecurity.text;
  }
}

// A data folder another account made first (here owned by NETWORK SERVICE, otherwise open only to
// SYSTEM and Administrators): the run goes on and tells on standard error that the shared log is
// not written because of the folder's owner, and neither the run nor the recorder's DataFolder
// makes anything in it.
TEST(DataFolder, AFolderAnotherAccountMadeFirstIsRefusedAndLeftEmpty) {
  NEEDS_WINDOWS("access control lists on a file system");
  const DataFolderSetAside aside;
  ASSERT_EQ(aside.Why(), "");
  const std::string path = kit::FreshDevicePath("planted");
  const kit::LeftAsFound cleanup(path);
  const fs::path data = kit::DataFolderPath();
  {
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &raw, nullptr))
        << kit::ErrorText(GetLastError());
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    ASSERT_TRUE(CreateDirectoryW(data.c_str(), &attributes)) << kit::ErrorText(GetLastError());
    // Only the restore privilege lets an administrator give a file an owner other than itself.
    const Privilege restore(L"SeRestorePrivilege");
    ASSERT_EQ(restore.Why(), "");
    alignas(SID) BYTE networkService[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof networkService;
    ASSERT_TRUE(CreateWellKnownSid(WinNetworkServiceSid, nullptr, networkService, &size));
    const DWORD status = SetNamedSecurityInfoW(const_cast<wchar_t*>(data.c_str()), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION, networkService, nullptr,
                                               nullptr, nullptr);
    ASSERT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS)) << kit::ErrorText(status);
  }
  ASSERT_EQ(Read(data).owner, "S-1-5-20");

  kit::SimulatedCli cli("planted");
  cli.WriteWorld(kit::OneDeviceWorld(path));
  const auto run = cli.Run("status");
  EXPECT_EQ(run.exitCode, UpdateRequired) << run.out << run.err;
  EXPECT_NE(run.err.find("the shared log is not written: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("is owned by"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("not by Administrators or SYSTEM"), std::string::npos) << run.err;

  std::string error;
  EXPECT_EQ(platform::win32::DataFolder(L"recordings", error), L"");
  EXPECT_NE(error.find("is owned by"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(data)) << "something was made in the planted folder";
}

// Someone without administrator rights (this administrator's token with the Administrators group
// for denying only, as a standard user's program has it) is refused every way to plant a file in
// the data folder or to hold the log; a run meanwhile writes its line without waiting for the log.
TEST(DataFolder, NoOneWithoutAdministratorRightsPlantsAFileOrHoldsTheLog) {
  NEEDS_WINDOWS("access control lists on a file system");
  const std::string path = kit::FreshDevicePath("hold");
  const kit::LeftAsFound cleanup(path);
  kit::SimulatedCli cli("hold");
  cli.WriteWorld(kit::OneDeviceWorld(path));
  const auto first = cli.Run("status");
  ASSERT_EQ(first.exitCode, UpdateRequired) << first.out << first.err;
  std::string error;
  ASSERT_FALSE(platform::win32::DataFolder(L"recordings", error).empty()) << error;
  const fs::path log = kit::DataFolderPath() / "Logs" / "flashwright.log";
  ASSERT_TRUE(fs::exists(log));

  Attempts attempts;
  {
    const kit::WithoutAdministratorRights user;
    ASSERT_TRUE(user.Ok()) << user.Why();
    TryAgainstDataFolder(attempts);
  }
  EXPECT_TRUE(attempts.letThrough.empty()) << "let through:" << Joined(attempts.letThrough);

  const auto logged = fs::file_size(log);
  const auto run = cli.Run("status");
  EXPECT_EQ(run.exitCode, UpdateRequired) << run.out << run.err;
  EXPECT_LT(run.took, platform::LogWaitBudget);
  EXPECT_EQ(run.err.find("shared log"), std::string::npos) << run.err;
  EXPECT_GT(fs::file_size(log), logged);
  RemoveMade(attempts);
}

// As a standard user: every way to plant a file in the data folder an administrator's run made, or
// to hold its log, is refused (the runner's administrator part has made the folder by then).
TEST(StandardUserDataFolder, CannotPlantAFileOrHoldTheLog) {
  NEEDS_STANDARD_USER();
  ASSERT_FALSE(kit::Virtualized()) << "file virtualization would answer in the folder's place";
  if (!Present(kit::DataFolderPath())) {
    GTEST_SKIP() << "needs the data folder an administrator's run made (it is missing)";
  }
  Attempts attempts;
  TryAgainstDataFolder(attempts);
  EXPECT_TRUE(attempts.letThrough.empty()) << "let through:" << Joined(attempts.letThrough);
  RemoveMade(attempts);
}

// As a standard user where there is no data folder: the user may make one in ProgramData (its
// default access list lets users add folders), and the programs' check of the folder refuses it
// for its owner before anything is made in it.
TEST(StandardUserDataFolder, AFolderItMakesFirstIsRefused) {
  NEEDS_STANDARD_USER();
  ASSERT_FALSE(kit::Virtualized()) << "file virtualization would answer in the folder's place";
  const fs::path data = kit::DataFolderPath();
  if (Present(data)) {
    GTEST_SKIP() << "needs no data folder (there is one: the test above tries to plant in it)";
  }
  if (!CreateDirectoryW(data.c_str(), nullptr)) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << kit::ErrorText(GetLastError());
    return;  // this PC's ProgramData lets no user plant it at all
  }
  struct Remove {
    fs::path folder;
    ~Remove() {
      std::error_code error;
      fs::remove_all(folder, error);
    }
  } const remove{data};
  platform::FolderFacts facts;
  std::string error;
  ASSERT_TRUE(platform::win32::ReadFolderFacts(data.wstring(), facts, error)) << error;
  EXPECT_EQ(facts.owner, platform::Trustee::Other);
  EXPECT_NE(platform::DataFolderRefusal(facts).find("is owned by"), std::string::npos);
  EXPECT_EQ(platform::win32::DataFolder(L"Logs", error), L"");
  EXPECT_NE(error.find("is owned by"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(data));
}

}  // namespace
