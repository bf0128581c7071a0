// The machine-wide programming lock on Windows: a mutex in a private namespace bounded by the
// Administrators group, or, where the system has no private namespaces (Wine), every global name
// whose mutex is ours (platform/LockPlacement.h).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/LockPlacement.h"
#include "platform/Platform.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {

// The private namespace functions, resolved from kernel32 at run time: an import of them would
// keep the programs from starting where they are missing.
struct NamespaceFunctions {
  decltype(&CreateBoundaryDescriptorW) createBoundaryDescriptor = nullptr;
  decltype(&AddSIDToBoundaryDescriptor) addSidToBoundaryDescriptor = nullptr;
  decltype(&DeleteBoundaryDescriptor) deleteBoundaryDescriptor = nullptr;
  decltype(&CreatePrivateNamespaceW) createPrivateNamespace = nullptr;
  decltype(&OpenPrivateNamespaceW) openPrivateNamespace = nullptr;
  decltype(&ClosePrivateNamespace) closePrivateNamespace = nullptr;
  bool complete = false;  // every one of them resolved

  static NamespaceFunctions Resolve();
};

// The kernel objects the lock is made of (see LockObjects for the contract).
class KernelLockObjects final : public LockObjects {
 public:
  explicit KernelLockObjects(const NamespaceFunctions& functions = NamespaceFunctions::Resolve())
      : functions_(functions) {}
  KernelLockObjects(const KernelLockObjects&) = delete;
  KernelLockObjects& operator=(const KernelLockObjects&) = delete;
  ~KernelLockObjects() override { CloseAll(); }

  bool HasPrivateNamespaces() override { return functions_.complete; }
  NamespaceOpening CreateNamespace() override;
  NamespaceOpening OpenNamespace() override;
  MutexOpening OpenMutex(std::string_view name) override;
  ObjectOwner OwnerOfLastMutex() override;
  void CloseAll() override;

  // The open mutex under `name` (as OpenMutex was given it); null when there is none.
  HANDLE MutexNamed(std::string_view name) const;

 private:
  struct DeleteBoundary {
    decltype(&DeleteBoundaryDescriptor) release = nullptr;
    void operator()(HANDLE boundary) const { release(boundary); }
  };
  struct CloseNamespace {
    decltype(&ClosePrivateNamespace) release = nullptr;
    // Without the destroy flag: the namespace lives on for the other programs holding it.
    void operator()(HANDLE privateNamespace) const { release(privateNamespace, 0); }
  };
  bool MakeBoundary();

  NamespaceFunctions functions_;
  // Declared so that the mutexes go first, then the namespace they live in, then the boundary.
  UniqueResource<HANDLE, DeleteBoundary> boundary_;
  UniqueResource<HANDLE, CloseNamespace> namespace_;
  std::vector<std::pair<std::string, UniqueHandle>> mutexes_;
};

class MachineProgrammingLock final : public ProgrammingLock {
 public:
  explicit MachineProgrammingLock(
      const NamespaceFunctions& functions = NamespaceFunctions::Resolve())
      : objects_(functions) {}
  MachineProgrammingLock(const MachineProgrammingLock&) = delete;
  MachineProgrammingLock& operator=(const MachineProgrammingLock&) = delete;
  ~MachineProgrammingLock() override { Unlock(); }
  Take TryLock(std::chrono::milliseconds wait) override;
  void Unlock() override;
  // Where the lock was found; nullopt before the first TryLock and after a failed one.
  const std::optional<LockPlace>& Place() const { return place_; }

 private:
  // Finds the place and its mutexes once; false when there is no lock to be had.
  bool FindPlace();

  KernelLockObjects objects_;
  std::optional<LockPlace> place_;
  // The place's mutexes, which are waited for and let go together; found once, so that taking
  // and letting go (each scan of the window) allocate nothing.
  std::vector<HANDLE> mutexes_;
  bool held_ = false;
};

}  // namespace platform::win32
