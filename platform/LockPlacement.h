// Where the machine-wide programming lock lives, decided apart from the system calls that make it:
// which way to reach it given what the system offers, and which named object is ours.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What creating a named mutex (or opening the one already under that name) gave.
enum class MutexOpening {
  Created,    // a new mutex, with our security descriptor (SYSTEM and Administrators only)
  Existing,   // the mutex already under that name, opened
  OtherKind,  // the name belongs to an object that is no mutex
  Denied,     // the object under that name lets us not open it
  Failed,     // any other error
};

// Who owns an object that was there before us.
enum class ObjectOwner {
  SystemOrAdministrators,
  Other,
  None,     // no owner at all (Wine gives an object made with default security none)
  Unknown,  // the owner could not be read
};

// What creating or opening the private namespace gave.
enum class NamespaceOpening {
  Opened,  // created, or the existing one opened: ready for the mutex
  Exists,  // another program created it first: open it
  Gone,    // it was there, and its last holder closed it meanwhile: create it again
  Failed,  // any other error
};

// The kernel objects the lock is made of, one Windows implementation and a fake. Everything
// opened is kept open until CloseAll (or the owner's end): the mutexes that are ours are the lock,
// and the others' objects found on the way are kept alive too, so that a later program sees the
// same names as this one did.
class LockObjects {
 public:
  virtual ~LockObjects() = default;
  // True when the system offers every function a private namespace needs.
  virtual bool HasPrivateNamespaces() = 0;
  // Creates the private namespace bounded by the Administrators group: Opened, Exists or Failed.
  virtual NamespaceOpening CreateNamespace() = 0;
  // Opens the one another program created: Opened, Gone or Failed.
  virtual NamespaceOpening OpenNamespace() = 0;
  // Creates the mutex `name`, owned by Administrators and open to SYSTEM and Administrators only,
  // or opens the one under that name; inside the private namespace once it is opened, otherwise
  // among the global names. A mutex is kept open when Created or Existing.
  virtual MutexOpening OpenMutex(std::string_view name) = 0;
  // The owner of the mutex opened last (Existing).
  virtual ObjectOwner OwnerOfLastMutex() = 0;
  // Closes every object opened, namespace included.
  virtual void CloseAll() = 0;
};

// The private namespace's name, and the lock's name inside it.
inline constexpr char LockNamespaceName[] = "Flashwright";
inline constexpr char LockNameInNamespace[] = "Flashwright\\DeviceProgramming";

// Without private namespaces the lock is every one of these global names whose mutex is ours:
//   Global\FlashwrightDeviceProgramming, then Global\FlashwrightDeviceProgramming-1 to -7.
// A name is ours when we create its mutex, or when the mutex already there is owned by SYSTEM or
// Administrators (only an administrator can give it that owner). A name held by anything else (a
// mutex of another owner or none, an object that is no mutex, one that denies administrators) is
// passed over. The lock is taken by waiting for all of its mutexes at once.
//
// Why all of them and not the first: a name passed over when one program started may be free
// when the next starts (its squatter gone), and two programs that each took their first name
// would then hold two different locks and program at once. A name that is ours stays ours while
// any program of ours keeps its mutex open (each keeps its own for its life, and no one can put
// another object under a name that is taken), so every program started later finds all the names
// an earlier one holds among its own: any two programs share at least one mutex, whatever others
// do with the names between their starts.
inline constexpr std::size_t GlobalLockCandidates = 8;
std::string GlobalLockName(std::size_t index);

// How often a private namespace that vanished between its creation failing and its opening is
// created again before giving up.
inline constexpr int NamespaceAttempts = 3;

enum class LockRoute { PrivateNamespace, GlobalName };

struct LockPlace {
  LockRoute route = LockRoute::PrivateNamespace;
  // The mutexes' names as OpenMutex was given them, in the order of the names: one in the
  // private namespace, at least one among the global names.
  std::vector<std::string> names;
  friend bool operator==(const LockPlace&, const LockPlace&) = default;
};

// Whether one global name is ours (`owner` counts only for an Existing mutex), to be passed over,
// or whether the attempt failed altogether.
enum class CandidateVerdict { Ours, PassOver, Fail };
CandidateVerdict JudgeGlobalCandidate(MutexOpening opening, ObjectOwner owner);

// Finds the lock's mutexes and leaves them open in `objects`. In a private
// namespace when the system offers them, since no ordinary user can create one bounded by the
// Administrators group; there any failure is final, for falling back to a global name would let
// two programs hold two different locks. Otherwise every global name above that is ours; one that
// cannot be judged (an error that proves nothing) fails the whole lock. Nullopt when
// there is no lock to be had; then everything opened has been closed again.
std::optional<LockPlace> PlaceLock(LockObjects& objects);

}  // namespace platform
