// The machine-wide programming lock on Windows: the system calls behind LockObjects.
#include "platform/win32/ProgrammingLock.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace platform::win32 {
namespace {

// True when `name` was found.
template <class Function>
bool ResolveFrom(HMODULE module, const char* name, Function& function) {
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): resolved by its documented name
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

// Owned by Administrators, open to SYSTEM and Administrators and nobody else. Held for the
// process's life: each creation reads it.
PSECURITY_DESCRIPTOR LockSecurity() {
  static const UniqueLocalMemory descriptor = [] {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)",
                                                              SDDL_REVISION_1, &made, nullptr)) {
      made = nullptr;
    }
    return UniqueLocalMemory(made);
  }();
  return descriptor.Get();
}

std::wstring Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

}  // namespace

NamespaceFunctions NamespaceFunctions::Resolve() {
  NamespaceFunctions functions;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return functions;
  constexpr int Needed = 6;
  int resolved = 0;
  resolved += ResolveFrom(kernel, "CreateBoundaryDescriptorW", functions.createBoundaryDescriptor);
  resolved +=
      ResolveFrom(kernel, "AddSIDToBoundaryDescriptor", functions.addSidToBoundaryDescriptor);
  resolved += ResolveFrom(kernel, "DeleteBoundaryDescriptor", functions.deleteBoundaryDescriptor);
  resolved += ResolveFrom(kernel, "CreatePrivateNamespaceW", functions.createPrivateNamespace);
  resolved += ResolveFrom(kernel, "OpenPrivateNamespaceW", functions.openPrivateNamespace);
  resolved += ResolveFrom(kernel, "ClosePrivateNamespace", functions.closePrivateNamespace);
  functions.complete = resolved == Needed;
  return functions;
}

bool KernelLockObjects::MakeBoundary() {
  if (boundary_) return true;
  const std::wstring name = Widen(LockNamespaceName);
  HANDLE boundary = functions_.createBoundaryDescriptor(name.c_str(), 0);
  if (boundary == nullptr) return false;
  boundary_ = UniqueResource<HANDLE, DeleteBoundary>(
      boundary, DeleteBoundary{functions_.deleteBoundaryDescriptor});
  alignas(SID) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof administrators;
  // The call may move the descriptor to make room for the SID; the owner then holds the new one.
  HANDLE grown = boundary_.Detach();
  const bool added =
      CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
      functions_.addSidToBoundaryDescriptor(&grown, administrators);
  boundary_.Reset(grown);
  if (!added) boundary_.Reset();
  return added;
}

NamespaceOpening KernelLockObjects::CreateNamespace() {
  if (LockSecurity() == nullptr || !MakeBoundary()) return NamespaceOpening::Failed;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, LockSecurity(), FALSE};
  const std::wstring alias = Widen(LockNamespaceName);
  HANDLE opened = functions_.createPrivateNamespace(&attributes, boundary_.Get(), alias.c_str());
  if (opened == nullptr) {
    return GetLastError() == ERROR_ALREADY_EXISTS ? NamespaceOpening::Exists
                                                  : NamespaceOpening::Failed;
  }
  namespace_ = UniqueResource<HANDLE, CloseNamespace>(
      opened, CloseNamespace{functions_.closePrivateNamespace});
  return NamespaceOpening::Opened;
}

NamespaceOpening KernelLockObjects::OpenNamespace() {
  if (!MakeBoundary()) return NamespaceOpening::Failed;
  const std::wstring alias = Widen(LockNamespaceName);
  HANDLE opened = functions_.openPrivateNamespace(boundary_.Get(), alias.c_str());
  if (opened == nullptr) {
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND
               ? NamespaceOpening::Gone
               : NamespaceOpening::Failed;
  }
  namespace_ = UniqueResource<HANDLE, CloseNamespace>(
      opened, CloseNamespace{functions_.closePrivateNamespace});
  return NamespaceOpening::Opened;
}

MutexOpening KernelLockObjects::OpenMutex(std::string_view name) {
  if (LockSecurity() == nullptr) return MutexOpening::Failed;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, LockSecurity(), FALSE};
  const std::wstring wideName = Widen(name);
  // Opens the object already under the name when there is one, ignoring our descriptor.
  UniqueHandle mutex(CreateMutexW(&attributes, FALSE, wideName.c_str()));
  const DWORD error = GetLastError();
  if (!mutex) {
    if (error == ERROR_INVALID_HANDLE) return MutexOpening::OtherKind;
    return error == ERROR_ACCESS_DENIED ? MutexOpening::Denied : MutexOpening::Failed;
  }
  mutexes_.emplace_back(std::string(name), std::move(mutex));
  return error == ERROR_ALREADY_EXISTS ? MutexOpening::Existing : MutexOpening::Created;
}

ObjectOwner KernelLockObjects::OwnerOfLastMutex() {
  if (mutexes_.empty()) return ObjectOwner::Unknown;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(mutexes_.back().second.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                      &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return ObjectOwner::Unknown;
  }
  const UniqueLocalMemory ownDescriptor(descriptor);
  if (owner == nullptr) return ObjectOwner::None;
  return IsWellKnownSid(owner, WinLocalSystemSid) ||
                 IsWellKnownSid(owner, WinBuiltinAdministratorsSid)
             ? ObjectOwner::SystemOrAdministrators
             : ObjectOwner::Other;
}

HANDLE KernelLockObjects::MutexNamed(std::string_view name) const {
  for (const auto& [opened, mutex] : mutexes_) {
    if (opened == name) return mutex.Get();
  }
  return nullptr;
}

void KernelLockObjects::CloseAll() {
  mutexes_.clear();
  namespace_.Reset();
  boundary_.Reset();
}

ProgrammingLock::Take MachineProgrammingLock::TryLock(std::chrono::milliseconds wait) {
  if (held_) return Take::Busy;
  // Without our mutexes there is no telling whether another program programs: touch nothing.
  if (!FindPlace()) return Take::Failed;
  // All of them or none: a wait for each in turn could hold some while another program holds the
  // rest.
  const auto count = static_cast<DWORD>(mutexes_.size());
  const DWORD waited =
      WaitForMultipleObjects(count, mutexes_.data(), TRUE, static_cast<DWORD>(wait.count()));
  const bool abandoned = waited >= WAIT_ABANDONED_0 && waited < WAIT_ABANDONED_0 + count;
  held_ = abandoned || waited < WAIT_OBJECT_0 + count;
  if (abandoned) return Take::Abandoned;
  if (held_) return Take::Taken;
  return waited == WAIT_TIMEOUT ? Take::Busy : Take::Failed;
}

void MachineProgrammingLock::Unlock() {
  if (!held_) return;
  held_ = false;
  for (HANDLE mutex : mutexes_) ReleaseMutex(mutex);
}

bool MachineProgrammingLock::FindPlace() {
  if (place_) return true;
  place_ = PlaceLock(objects_);
  if (!place_) return false;
  for (const std::string& name : place_->names) {
    if (HANDLE mutex = objects_.MutexNamed(name)) mutexes_.push_back(mutex);
  }
  // A name without its mutex would leave the lock short of one, and more than a wait takes
  // cannot be waited for at once: no lock then.
  if (mutexes_.size() != place_->names.size() || mutexes_.size() > MAXIMUM_WAIT_OBJECTS ||
      mutexes_.empty()) {
    mutexes_.clear();
    place_.reset();
    objects_.CloseAll();
    return false;
  }
  return true;
}

}  // namespace platform::win32
