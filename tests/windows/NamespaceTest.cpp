// The machine-wide programming lock where Windows has private namespaces: the programs meet in the
// namespace bounded by the Administrators group, never among the global names, and a standard
// user can neither make that namespace first nor take the lock in it.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "platform/LockPlacement.h"
#include "platform/win32/ProgrammingLock.h"
#include "tests/windows/Kit.h"
#include "tests/windows/ProgramRuns.h"

namespace {

using namespace std::chrono_literals;
using Take = platform::ProgrammingLock::Take;

const char* Name(Take take) {
  switch (take) {
    case Take::Taken:
      return "taken";
    case Take::Abandoned:
      return "abandoned";
    case Take::Busy:
      return "busy";
    case Take::Failed:
      return "failed";
  }
  return "?";
}

// The global names the programs fall back to where there are no private namespaces, which of
// them are there now.
std::string GlobalNamesPresent() {
  std::string present;
  for (std::size_t index = 0; index < platform::GlobalLockCandidates; ++index) {
    const std::string name = platform::GlobalLockName(index);
    const std::wstring wide(name.begin(), name.end());
    const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, wide.c_str());
    const DWORD error = GetLastError();
    if (mutex != nullptr) CloseHandle(mutex);
    if (mutex != nullptr || error != ERROR_FILE_NOT_FOUND) {
      present += " " + name + (mutex ? " (open)" : " (" + kit::ErrorText(error) + ")");
    }
  }
  return present;
}

// The real command line holds the lock while it programs slowly; this process, lock-holder.exe and
// the command line take turns on the one mutex in the namespace, each seeing what the one before
// left: busy while the command line programs, abandoned once it is killed holding it, and again
// after lock-holder.exe ends holding it. The fallback's global names are never made.
TEST(PrivateNamespace, ProgramsMeetOnTheMutexInTheNamespace) {
  NEEDS_WINDOWS("private namespaces");
  const std::string path = kit::FreshDevicePath("lock");
  const kit::LeftAsFound cleanup(path);
  kit::SimulatedCli cli("namespace");
  cli.WriteWorld(kit::OneDeviceWorld(path, "Bench Unit", "program-ms = 60000"));
  e2e::Process updating = cli.Start("update");
  ASSERT_TRUE(e2e::WaitUntil(
      [&] { return cli.SimLog().find(" begin ") != std::string::npos || !updating.Running(); },
      30s));
  ASSERT_TRUE(updating.Running()) << "the update ended before programming:\n"
                                  << cli.Out() << cli.Err();

  platform::win32::MachineProgrammingLock lock;
  const Take whileProgramming = lock.TryLock(0ms);
  EXPECT_EQ(whileProgramming, Take::Busy) << Name(whileProgramming);
  ASSERT_TRUE(lock.Place().has_value()) << "the lock found no place";
  EXPECT_EQ(lock.Place()->route, platform::LockRoute::PrivateNamespace);
  EXPECT_EQ(lock.Place()->names, std::vector<std::string>{platform::LockNameInNamespace});
  EXPECT_EQ(GlobalNamesPresent(), "");

  // Killed while it holds the lock: this process keeps the namespace and the mutex open, so the
  // next taker learns the holder died.
  ASSERT_TRUE(TerminateProcess(updating.Handle(), 1)) << kit::ErrorText(GetLastError());
  ASSERT_TRUE(updating.WaitForExit(10s).has_value());
  const Take afterKill = lock.TryLock(0ms);
  EXPECT_EQ(afterKill, Take::Abandoned) << Name(afterKill);
  lock.Unlock();

  // lock-holder.exe takes the same mutex through the namespace this process keeps open, and ends
  // without letting it go.
  e2e::TempDir holderDir("holder");
  const auto holderExe = holderDir.CopyIn(kit::ProgramsDir() / "lock-holder.exe");
  e2e::Process holder = e2e::Process::Launch(holderExe, holderDir.Path());
  const auto holderTook = holder.WaitForExit(30s);
  ASSERT_TRUE(holderTook.has_value()) << "lock-holder.exe did not end";
  EXPECT_EQ(*holderTook, static_cast<DWORD>(Take::Taken)) << Name(static_cast<Take>(*holderTook));
  const Take afterHolder = lock.TryLock(0ms);
  EXPECT_EQ(afterHolder, Take::Abandoned) << Name(afterHolder);
  lock.Unlock();
  EXPECT_EQ(GlobalNamesPresent(), "");
}

// A standard user is outside the namespace's boundary: Windows lets it neither create a namespace
// bounded by the Administrators group (so it cannot make the programs' namespace first, with a
// descriptor of its own) nor open the programs' one, and the lock fails closed for it, without
// falling back to the global names.
TEST(StandardUserPrivateNamespace, CannotMakeOpenOrTakeTheLock) {
  NEEDS_STANDARD_USER();
  platform::win32::KernelLockObjects objects;
  ASSERT_TRUE(objects.HasPrivateNamespaces());
  EXPECT_NE(objects.CreateNamespace(), platform::NamespaceOpening::Opened);
  EXPECT_NE(objects.OpenNamespace(), platform::NamespaceOpening::Opened);
  objects.CloseAll();

  // The same namespace made by hand with the default descriptor, as a squatter would.
  const auto functions = platform::win32::NamespaceFunctions::Resolve();
  ASSERT_TRUE(functions.complete);
  const std::wstring name(std::begin(platform::LockNamespaceName),
                          std::end(platform::LockNamespaceName) - 1);
  HANDLE boundary = functions.createBoundaryDescriptor(name.c_str(), 0);
  ASSERT_NE(boundary, nullptr) << kit::ErrorText(GetLastError());
  alignas(SID) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  ASSERT_TRUE(functions.addSidToBoundaryDescriptor(&boundary, administrators))
      << kit::ErrorText(GetLastError());
  const HANDLE squatted = functions.createPrivateNamespace(nullptr, boundary, name.c_str());
  const DWORD error = GetLastError();
  if (squatted != nullptr)
    functions.closePrivateNamespace(squatted, PRIVATE_NAMESPACE_FLAG_DESTROY);
  functions.deleteBoundaryDescriptor(boundary);
  EXPECT_EQ(squatted, nullptr) << "a standard user made the programs' namespace";
  EXPECT_NE(error, ERROR_SUCCESS);

  platform::win32::MachineProgrammingLock lock;
  const Take take = lock.TryLock(0ms);
  EXPECT_EQ(take, Take::Failed) << Name(take);
  EXPECT_FALSE(lock.Place().has_value());
}

}  // namespace
