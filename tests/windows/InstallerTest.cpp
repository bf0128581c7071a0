// The simulator kit's Windows Installer package as an administrator's deployment uses it, silently
// with msiexec: install, a repair of a program someone replaced, the upgrade to a higher version
// (one product left), and the uninstall, which keeps what the package is documented to keep: the
// data folder's logs and the status values the programs left for inventory tools. And the
// package's tables through the Windows SDK's internal consistency evaluators, when the SDK is
// there. What Wine's installer cannot show: a repair by Windows' file versioning rules, an
// upgrade by Windows' own rules, the validation. Every product the test installs is uninstalled
// at its end, whatever happened.
#include <windows.h>
// After windows.h.
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "harness/Driver.h"
#include "tests/windows/Checks.h"
#include "tests/windows/Kit.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::win32::Utf8ToWide;
using platform::win32::WideToUtf8;

constexpr e2e::Millis InstallTimeout = 10min;
constexpr wchar_t EventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Flashwright";
constexpr wchar_t StatusKey[] = L"SOFTWARE\\Flashwright\\Status";

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

// MSIDBOPEN_READONLY, which the headers spell in the build's character width; and the installed
// products' properties (INSTALLPROPERTY_VERSIONSTRING, INSTALLPROPERTY_INSTALLLOCATION).
constexpr const wchar_t* ReadOnly = nullptr;
constexpr wchar_t VersionString[] = L"VersionString";
constexpr wchar_t InstallLocation[] = L"InstallLocation";

fs::path Package(const char* name) { return kit::PackagesDir() / name; }

// An MSIHANDLE closed when it goes.
class MsiRecordHandle {
 public:
  MsiRecordHandle() = default;
  ~MsiRecordHandle() {
    if (handle_ != 0) MsiCloseHandle(handle_);
  }
  MsiRecordHandle(const MsiRecordHandle&) = delete;
  MsiRecordHandle& operator=(const MsiRecordHandle&) = delete;
  MSIHANDLE* Out() { return &handle_; }
  MSIHANDLE Get() const { return handle_; }

 private:
  MSIHANDLE handle_ = 0;
};

// A property of the package's Property table; empty with `error` set when it cannot be read.
std::string PackageProperty(const fs::path& msi, const wchar_t* name, std::string& error) {
  MsiRecordHandle database;
  UINT result = MsiOpenDatabaseW(msi.wstring().c_str(), ReadOnly, database.Out());
  if (result != ERROR_SUCCESS) {
    error = "opening " + msi.string() + ": " + kit::ErrorText(result);
    return {};
  }
  MsiRecordHandle view;
  result = MsiDatabaseOpenViewW(database.Get(),
                                L"SELECT `Value` FROM `Property` WHERE `Property` = ?", view.Out());
  MsiRecordHandle parameter;
  *parameter.Out() = MsiCreateRecord(1);
  if (result == ERROR_SUCCESS) result = MsiRecordSetStringW(parameter.Get(), 1, name);
  if (result == ERROR_SUCCESS) result = MsiViewExecute(view.Get(), parameter.Get());
  MsiRecordHandle row;
  if (result == ERROR_SUCCESS) result = MsiViewFetch(view.Get(), row.Out());
  std::wstring value(256, L'\0');
  DWORD size = static_cast<DWORD>(value.size());
  if (result == ERROR_SUCCESS) result = MsiRecordGetStringW(row.Get(), 1, value.data(), &size);
  if (result != ERROR_SUCCESS) {
    error = "reading the property " + WideToUtf8(name) + " of " + msi.string() + ": " +
            kit::ErrorText(result);
    return {};
  }
  value.resize(size);
  return WideToUtf8(value);
}

// The product codes installed under `upgradeCode`.
std::vector<std::string> InstalledProducts(const std::string& upgradeCode) {
  std::vector<std::string> products;
  const std::wstring code = Utf8ToWide(upgradeCode);
  for (DWORD index = 0;; ++index) {
    wchar_t product[39] = L"";
    if (MsiEnumRelatedProductsW(code.c_str(), 0, index, product) != ERROR_SUCCESS) break;
    products.push_back(WideToUtf8(product));
  }
  return products;
}

// One installed product's property (INSTALLPROPERTY_...), empty when it has none.
std::string ProductInfo(const std::string& product, const wchar_t* property) {
  std::wstring value(MAX_PATH, L'\0');
  DWORD size = static_cast<DWORD>(value.size());
  if (MsiGetProductInfoW(Utf8ToWide(product).c_str(), property, value.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.resize(size);
  return WideToUtf8(value);
}

// Whether the product is installed for the machine (INSTALLSTATE_DEFAULT) or not at all
// (INSTALLSTATE_UNKNOWN).
INSTALLSTATE State(const std::string& product) {
  return MsiQueryProductStateW(Utf8ToWide(product).c_str());
}

bool KeyExists(const wchar_t* key, REGSAM view) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}

// The end of an msiexec log (written as UTF-16 or in the ANSI code page), for a failure message.
std::string LogTail(const fs::path& log) {
  const std::string bytes = kit::ReadBytes(log);
  std::string text = bytes;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::wstring wide((bytes.size() - 2) / 2, L'\0');
    std::memcpy(wide.data(), bytes.data() + 2, wide.size() * sizeof(wchar_t));
    text = WideToUtf8(wide);
  }
  constexpr std::size_t Tail = 6000;
  return "msiexec's log " + log.string() + " ends:\n" +
         (text.size() > Tail ? text.substr(text.size() - Tail) : text);
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    NEEDS_WINDOWS("Windows Installer's file versioning and upgrade rules");
    for (const char* name : {"Flashwright-current.msi", "Flashwright-next.msi"}) {
      if (!fs::is_regular_file(Package(name))) {
        GTEST_SKIP() << "needs the kit's packages: " << Package(name).string()
                     << " is missing (make windows-test-kit builds both)";
      }
    }
  }

  // msiexec with `args` (a log of `logName` added); its exit code, 0xDEAD when it did not end.
  DWORD Msiexec(const std::string& args, const std::string& logName) {
    wchar_t system[MAX_PATH] = L"";
    if (GetSystemDirectoryW(system, MAX_PATH) == 0) {
      ADD_FAILURE() << kit::LastError("GetSystemDirectoryW");
      return 0xDEAD;
    }
    lastLog_ = dir_.Path() / (logName + ".log");
    try {
      e2e::Process msiexec = e2e::Process::Launch(fs::path(system) / "msiexec.exe", dir_.Path(), {},
                                                  args + " /qn /l*v \"" + lastLog_.string() + "\"");
      return msiexec.WaitForExit(InstallTimeout).value_or(0xDEAD);
    } catch (const std::exception& failed) {
      ADD_FAILURE() << failed.what();
      return 0xDEAD;
    }
  }
  // Whether msiexec's code says it succeeded (3010: it did, and a restart completes it).
  static bool Succeeded(DWORD code) { return code == ERROR_SUCCESS || code == 3010; }
  std::string LastLog() const { return LogTail(lastLog_); }

  e2e::TempDir dir_{"installer"};
  fs::path lastLog_;
};

// Uninstalls, when it goes, each of `products` still installed and any other product of the
// upgrade code, so that the PC is left as found.
class UninstallAtEnd {
 public:
  UninstallAtEnd(std::string upgradeCode, std::vector<std::string> products,
                 std::function<DWORD(const std::string&)> uninstall)
      : upgradeCode_(std::move(upgradeCode)),
        products_(std::move(products)),
        uninstall_(std::move(uninstall)) {}
  ~UninstallAtEnd() {
    std::vector<std::string> installed = InstalledProducts(upgradeCode_);
    for (const std::string& product : products_) {
      if (State(product) != INSTALLSTATE_UNKNOWN &&
          std::find(installed.begin(), installed.end(), product) == installed.end()) {
        installed.push_back(product);
      }
    }
    for (const std::string& product : installed) {
      const DWORD code = uninstall_(product);
      if (code != ERROR_SUCCESS && code != 3010) {
        ADD_FAILURE() << "uninstalling " << product << " at the end ended with " << code
                      << ": uninstall it by hand";
      }
    }
  }
  UninstallAtEnd(const UninstallAtEnd&) = delete;
  UninstallAtEnd& operator=(const UninstallAtEnd&) = delete;

 private:
  std::string upgradeCode_;
  std::vector<std::string> products_;
  std::function<DWORD(const std::string&)> uninstall_;
};

TEST_F(Installer, InstallRepairUpgradeAndUninstall) {
  if (!kit::RunsElevated()) GTEST_SKIP() << "needs an administrator: a per-machine package";
  std::string error;
  const fs::path current = Package("Flashwright-current.msi");
  const fs::path next = Package("Flashwright-next.msi");
  const std::string upgradeCode = PackageProperty(current, L"UpgradeCode", error);
  const std::string currentCode = PackageProperty(current, L"ProductCode", error);
  const std::string currentVersion = PackageProperty(current, L"ProductVersion", error);
  const std::string nextCode = PackageProperty(next, L"ProductCode", error);
  const std::string nextVersion = PackageProperty(next, L"ProductVersion", error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(PackageProperty(next, L"UpgradeCode", error), upgradeCode)
      << "the two packages are not one product";
  ASSERT_NE(currentVersion, nextVersion);
  ASSERT_TRUE(InstalledProducts(upgradeCode).empty() &&
              State(currentCode) == INSTALLSTATE_UNKNOWN && State(nextCode) == INSTALLSTATE_UNKNOWN)
      << "Flashwright is installed on this PC already: the test installs and uninstalls its own; "
         "uninstall it first";
  const UninstallAtEnd cleanup(
      upgradeCode, {currentCode, nextCode},
      [&](const std::string& product) { return Msiexec("/x " + product, "cleanup"); });

  // Installed: one product, its version, its files, the data folder and the event source.
  ASSERT_TRUE(Succeeded(Msiexec("/i \"" + current.string() + "\"", "install"))) << LastLog();
  ASSERT_EQ(InstalledProducts(upgradeCode), std::vector<std::string>{currentCode});
  EXPECT_EQ(ProductInfo(currentCode, VersionString), currentVersion);
  const fs::path folder = ProductInfo(currentCode, InstallLocation);
  ASSERT_FALSE(folder.empty()) << "the product names no install location";
  for (const char* file : {"Flashwright.exe", "flashwright-cli.exe", "ZRFWUpdateDll.dll",
                           "usbsim.exe", "README.txt", "LICENSE.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(folder / file)) << (folder / file).string() << " missing";
  }
  const fs::path logs = e2e::SharedLogFile().parent_path();
  EXPECT_TRUE(fs::is_directory(logs)) << logs.string();
  EXPECT_TRUE(fs::is_directory(logs.parent_path() / "recordings"));
  EXPECT_TRUE(KeyExists(EventSourceKey, 0)) << "no event source";

  // The installed command line runs against the simulator's own world, leaving its line in the
  // data folder's log and its status values for inventory tools.
  const fs::path cli = folder / "flashwright-cli.exe";
  e2e::ForgetAttemptRecords();
  DWORD statusCode = 0xDEAD;
  try {
    e2e::Process status = e2e::Process::Launch(cli, folder, {{"FLASHWRIGHT_SIM_SCENARIO", ""}},
                                               "status", {dir_.Path() / "status.txt", {}});
    statusCode = status.WaitForExit(60s).value_or(0xDEAD);
  } catch (const std::exception& failed) {
    ADD_FAILURE() << failed.what();
  }
  EXPECT_EQ(statusCode, 10u) << kit::ReadBytes(dir_.Path() / "status.txt");
  const std::string logBefore = kit::ReadBytes(e2e::SharedLogFile());
  EXPECT_NE(logBefore.find("\"command\":\"status\""), std::string::npos)
      << "the installed command line left no line in " << e2e::SharedLogFile().string();

  // A repair puts back a program someone replaced: its version in the package wins over a file
  // without one, by Windows Installer's default rules ("omus").
  const std::string program = kit::ReadBytes(cli);
  ASSERT_FALSE(program.empty());
  {
    std::ofstream wrong(cli, std::ios::binary | std::ios::trunc);
    wrong << "not the command line";
    ASSERT_TRUE(wrong.good()) << "cannot overwrite " << cli.string();
  }
  ASSERT_NE(kit::ReadBytes(cli), program);
  ASSERT_TRUE(Succeeded(Msiexec("/fvomus \"" + current.string() + "\"", "repair"))) << LastLog();
  EXPECT_TRUE(kit::ReadBytes(cli) == program)
      << "the repair did not restore " << cli.string() << "\n"
      << LastLog();

  // The upgrade: the next version replaces the current one, one product left.
  ASSERT_TRUE(Succeeded(Msiexec("/i \"" + next.string() + "\"", "upgrade"))) << LastLog();
  EXPECT_EQ(State(currentCode), INSTALLSTATE_UNKNOWN) << "the upgrade left " << currentVersion;
  EXPECT_EQ(State(nextCode), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(InstalledProducts(upgradeCode), std::vector<std::string>{nextCode}) << LastLog();
  EXPECT_EQ(ProductInfo(nextCode, VersionString), nextVersion);
  EXPECT_TRUE(fs::is_regular_file(cli)) << "the upgrade left no command line";

  // Uninstalled: no product, no install folder, no event source; the logs and the status values
  // stay, the log as it was.
  ASSERT_TRUE(Succeeded(Msiexec("/x " + nextCode, "uninstall"))) << LastLog();
  EXPECT_TRUE(InstalledProducts(upgradeCode).empty());
  EXPECT_EQ(State(nextCode), INSTALLSTATE_UNKNOWN);
  EXPECT_FALSE(fs::exists(folder)) << folder.string() << " is left after uninstalling";
  EXPECT_FALSE(KeyExists(EventSourceKey, 0)) << "the event source is left after uninstalling";
  const std::string logAfter = kit::ReadBytes(e2e::SharedLogFile());
  EXPECT_EQ(logAfter.substr(0, logBefore.size()), logBefore)
      << "uninstalling lost or changed the log " << e2e::SharedLogFile().string();
  EXPECT_TRUE(KeyExists(StatusKey, KEY_WOW64_64KEY))
      << "uninstalling removed the status values inventory tools read";
}

// The first file named `name` under `root` (not following links, skipping what cannot be read).
std::optional<fs::path> FindUnder(const fs::path& root, const std::string& name) {
  std::error_code failed;
  if (!fs::is_directory(root, failed)) return std::nullopt;
  for (fs::recursive_directory_iterator
           it(root, fs::directory_options::skip_permission_denied, failed),
       end;
       !failed && it != end; it.increment(failed)) {
    if (it->path().filename() == name) return it->path();
  }
  return std::nullopt;
}

// The package's tables through the full set of consistency checks (darice.cub): no ICE reports
// an error or a failure. Warnings are shown, not failed.
TEST_F(Installer, PackagePassesTheConsistencyChecks) {
  std::vector<fs::path> roots;
  for (const wchar_t* variable : {L"ProgramFiles(x86)", L"ProgramFiles"}) {
    wchar_t folder[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(variable, folder, MAX_PATH) > 0) {
      roots.push_back(fs::path(folder) / "MsiVal2");
      roots.push_back(fs::path(folder) / "Windows Kits");
    }
  }
  std::optional<fs::path> validator;
  std::optional<fs::path> cube;
  for (const fs::path& root : roots) {
    if (!validator) validator = FindUnder(root, "msival2.exe");
    if (!cube) cube = FindUnder(root, "darice.cub");
  }
  if (!validator || !cube) {
    GTEST_SKIP() << "needs the Windows SDK's msival2 (MsiVal2, installed from the SDK's "
                    "MsiVal2-x86_en-us.msi) and darice.cub";
  }
  for (const char* name : {"Flashwright-current.msi", "Flashwright-next.msi"}) {
    SCOPED_TRACE(name);
    const fs::path results = dir_.Path() / (std::string(name) + ".ice.txt");
    DWORD code = 0xDEAD;
    try {
      e2e::Process check =
          e2e::Process::Launch(*validator, dir_.Path(), {},
                               "\"" + Package(name).string() + "\" \"" + cube->string() +
                                   "\" -f -l \"" + results.string() + "\"",
                               {dir_.Path() / "msival2.out", {}});
      code = check.WaitForExit(InstallTimeout).value_or(0xDEAD);
    } catch (const std::exception& failed) {
      FAIL() << failed.what();
    }
    const std::string report = kit::ReadBytes(results);
    ASSERT_FALSE(report.empty()) << "msival2 ended with " << code << " and wrote no results:\n"
                                 << kit::ReadBytes(dir_.Path() / "msival2.out");
    std::istringstream lines(report);
    std::string failures;
    const std::regex failure(R"(^\s*ICE\d+\s+(ERROR|FAILURE)\b)", std::regex::icase);
    for (std::string line; std::getline(lines, line);) {
      if (std::regex_search(line, failure)) failures += line + "\n";
    }
    EXPECT_EQ(failures, "") << "the full report:\n" << report;
  }
}

}  // namespace
