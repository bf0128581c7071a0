// The recording switch against a real certificate chain: signed programs bind only a recorder
// whose signature Windows verifies, from the programs' own signing key. The certificates and the
// signed files come from make-fixtures.sh; the test trusts its authority in the machine's Root
// store and distrusts one certificate in the Disallowed store (Windows' explicit distrust, which
// stands in for a revoked certificate: the kit has no CRL server), and undoes both.
#include <windows.h>
// After windows.h.
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "harness/Driver.h"
#include "platform/win32/RecorderSwitch.h"
#include "tests/windows/Checks.h"
#include "tests/windows/Kit.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char CliName[] = "flashwright-cli.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr e2e::Millis RunTimeout = 60s;

#ifndef KEY_WOW64_64KEY
#define KEY_WOW64_64KEY 0x0100
#endif

// A certificate added to one of the local machine's system stores for the test's time and removed
// again, found by its SHA-1 hash (a certificate of the same hash already there is replaced, so a
// run cut short earlier leaves nothing behind either).
class StoreEntry {
 public:
  StoreEntry(const wchar_t* store, const std::string& storeName, const fs::path& certificate)
      : name_(storeName + " store") {
    const std::string der = kit::ReadBytes(certificate);
    if (der.empty()) {
      error_ = "cannot read the certificate " + certificate.string();
      return;
    }
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, store);
    if (store_ == nullptr) {
      error_ = kit::LastError("opening the local machine's " + name_);
      return;
    }
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(
            store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
      error_ = kit::LastError("adding " + certificate.filename().string() + " to the " + name_);
      return;
    }
    DWORD size = sizeof hash_;
    if (!CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash_.data(), &size)) {
      // A certificate the test could not name again must not stay: out at once.
      error_ = kit::LastError("reading the added certificate's hash");
      CertDeleteCertificateFromStore(added);
      return;
    }
    CertFreeCertificateContext(added);
    added_ = true;
  }
  ~StoreEntry() {
    const std::string failed = Remove();
    if (!failed.empty()) ADD_FAILURE() << failed << ": remove it by hand (certlm.msc)";
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  StoreEntry(const StoreEntry&) = delete;
  StoreEntry& operator=(const StoreEntry&) = delete;

  // Empty when the certificate is in the store, else why not.
  const std::string& Error() const { return error_; }

  // Takes the certificate out of the store; empty when done (or never added), else why not.
  std::string Remove() {
    if (!added_) return {};
    added_ = false;
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash_.size()), hash_.data()};
    PCCERT_CONTEXT found = CertFindCertificateInStore(store_, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (found == nullptr) return kit::LastError("finding the test's certificate in the " + name_);
    // Frees `found`, whether or not it succeeds.
    if (!CertDeleteCertificateFromStore(found)) {
      return kit::LastError("removing the test's certificate from the " + name_);
    }
    return {};
  }

 private:
  std::string name_;
  std::string error_;
  HCERTSTORE store_ = nullptr;
  std::array<BYTE, 20> hash_{};
  bool added_ = false;
};

// Whether the machine's recording switch is on, read where the programs read it.
bool SwitchedOn() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, platform::win32::SupportKey, 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof value;
  const bool on = RegQueryValueExW(key, platform::win32::RecordingValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
                  type == REG_DWORD && value == 1;
  RegCloseKey(key);
  return on;
}

// The signed command line and the simulator in a scratch folder, the recording switch on (as it
// was found at the end), the test authority and the impostor's trusted.
class RecorderTrust : public ::testing::Test {
 protected:
  void SetUp() override {
    NEEDS_WINDOWS("a certificate chain built by the system's trust providers");
    if (!kit::RunsElevated()) {
      GTEST_SKIP() << "needs an administrator: the machine's Root store and recording switch";
    }
    for (const char* file :
         {"test-ca.cer", "impostor-ca.cer", "distrusted-signer.cer", "signed/flashwright-cli.exe",
          "signed/flashwright-recorder.dll", "impostor/flashwright-recorder.dll",
          "unsigned/flashwright-recorder.dll", "distrusted/flashwright-recorder.dll"}) {
      ASSERT_TRUE(fs::is_regular_file(Fixture(file)))
          << Fixture(file).string() << " is missing: the kit makes it with make-fixtures.sh";
    }
    testAuthority_.emplace(L"Root", "Root", Fixture("test-ca.cer"));
    ASSERT_EQ(testAuthority_->Error(), "");
    impostorAuthority_.emplace(L"Root", "Root", Fixture("impostor-ca.cer"));
    ASSERT_EQ(impostorAuthority_->Error(), "");

    folder_ = dir_.Path() / "programs";
    fs::create_directories(folder_);
    fs::copy_file(Fixture("signed/flashwright-cli.exe"), folder_ / CliName);
    fs::copy_file(kit::ProgramsDir() / LibraryName, folder_ / LibraryName);
    wasOn_ = SwitchedOn();
    ASSERT_EQ(Cli("support record on"), 0u) << Output();
    switched_ = true;
    ASSERT_TRUE(SwitchedOn()) << "support record on ended with 0 and the switch is off";
  }

  void TearDown() override {
    if (switched_ && !wasOn_) {
      EXPECT_EQ(Cli("support record off"), 0u) << Output();
    }
  }

  static fs::path Fixture(const std::string& name) { return kit::FixturesDir() / name; }

  // Runs the command line in the scratch folder; its exit code (0xDEAD when it did not end).
  DWORD Cli(const std::string& args, const e2e::Process::Environment& environment = {}) {
    ++runs_;
    try {
      e2e::Process cli = e2e::Process::Launch(folder_ / CliName, folder_, environment, args,
                                              {OutFile(), ErrFile()});
      return cli.WaitForExit(RunTimeout).value_or(0xDEAD);
    } catch (const std::exception& failed) {
      ADD_FAILURE() << failed.what();
      return 0xDEAD;
    }
  }
  fs::path OutFile() const { return dir_.Path() / ("out" + std::to_string(runs_) + ".txt"); }
  fs::path ErrFile() const { return dir_.Path() / ("err" + std::to_string(runs_) + ".txt"); }
  std::string Output() const {
    return "stdout:\n" + kit::ReadBytes(OutFile()) + "stderr:\n" + kit::ReadBytes(ErrFile());
  }

  // `status` with the candidate (a fixture) as the recorder beside the programs: whether a
  // recording was written, and the exit code, which must be what the library gives either way.
  struct Run {
    bool recorded = false;
    DWORD exitCode = 0xDEAD;
  };
  Run Status(const std::string& candidate) {
    const fs::path recorder =
        folder_ / platform::win32::WideToUtf8(platform::win32::RecorderFileName);
    fs::copy_file(Fixture(candidate), recorder, fs::copy_options::overwrite_existing);
    const fs::path recording = dir_.Path() / "session.fwrec";
    std::error_code ignored;
    fs::remove(recording, ignored);
    Run run;
    run.exitCode = Cli("status", {{"FLASHWRIGHT_RECORDING", recording.string()},
                                  {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}});
    run.recorded = fs::exists(recording) && fs::file_size(recording, ignored) > 0;
    return run;
  }

  // The genuine recorder's run, the one the others are held to.
  Run Genuine() {
    const Run genuine = Status("signed/flashwright-recorder.dll");
    EXPECT_TRUE(genuine.recorded) << "the recorder signed with the programs recorded nothing\n"
                                  << Output();
    EXPECT_NE(genuine.exitCode, 6u) << "the library was not bound\n" << Output();
    EXPECT_LT(genuine.exitCode, 0xC0000000u) << "the command line crashed\n" << Output();
    return genuine;
  }

  // A refused recorder: nothing recorded, and the library bound as without a recorder.
  void ExpectRefused(const std::string& candidate, const Run& genuine, const char* why) {
    const Run run = Status(candidate);
    EXPECT_FALSE(run.recorded) << candidate << " recorded: " << why << "\n" << Output();
    EXPECT_EQ(run.exitCode, genuine.exitCode)
        << candidate << ": status did not end as it does with the library\n"
        << Output();
  }

  e2e::TempDir dir_{"recorder-trust"};
  fs::path folder_;
  std::optional<StoreEntry> testAuthority_;
  std::optional<StoreEntry> impostorAuthority_;
  bool wasOn_ = false;
  bool switched_ = false;
  int runs_ = 0;
};

// Compared by key: the impostor's recorder has the signer's subject and a chain Windows trusts,
// but another key. The distrusted certificate has the signer's key: only its place in the
// Disallowed store refuses it, which the run before it is put there shows.
TEST_F(RecorderTrust, SignedProgramsBindOnlyTheirPublishersVerifiedRecorder) {
  const Run genuine = Genuine();
  ExpectRefused("impostor/flashwright-recorder.dll", genuine,
                "same subject, trusted chain, another key");
  ExpectRefused("unsigned/flashwright-recorder.dll", genuine, "no signature");

  const Run beforeDistrust = Status("distrusted/flashwright-recorder.dll");
  EXPECT_TRUE(beforeDistrust.recorded)
      << "the recorder signed with a second certificate for the programs' key recorded nothing "
         "before that certificate was distrusted\n"
      << Output();
  StoreEntry distrust(L"Disallowed", "Disallowed", Fixture("distrusted-signer.cer"));
  ASSERT_EQ(distrust.Error(), "");
  ExpectRefused("distrusted/flashwright-recorder.dll", genuine,
                "its certificate is in the Disallowed store");
}

// Without the authority in Root neither the programs' signature nor the recorder's verifies: the
// programs are still signed, so nothing is bound in the library's place.
TEST_F(RecorderTrust, AnUntrustedChainBindsNoRecorder) {
  const Run genuine = Genuine();
  ASSERT_EQ(testAuthority_->Remove(), "");
  ExpectRefused("signed/flashwright-recorder.dll", genuine,
                "the chain ends at an authority the machine does not trust");
}

}  // namespace
