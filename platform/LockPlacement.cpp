// Where the machine-wide programming lock lives: the private namespace, or every global name whose
// mutex is ours.
#include "platform/LockPlacement.h"

namespace platform {

std::string GlobalLockName(std::size_t index) {
  std::string name = "Global\\FlashwrightDeviceProgramming";
  if (index > 0) {
    name += '-';
    name += std::to_string(index);
  }
  return name;
}

CandidateVerdict JudgeGlobalCandidate(MutexOpening opening, ObjectOwner owner) {
  switch (opening) {
    case MutexOpening::Created:
      return CandidateVerdict::Ours;
    case MutexOpening::Existing:
      // A mutex we opened with full access whose owner cannot be read is no proof of a squatter.
      if (owner == ObjectOwner::Unknown) return CandidateVerdict::Fail;
      return owner == ObjectOwner::SystemOrAdministrators ? CandidateVerdict::Ours
                                                          : CandidateVerdict::PassOver;
    // Our programs run elevated, and our mutex lets Administrators in: a refusal means it is
    // someone else's object.
    case MutexOpening::OtherKind:
    case MutexOpening::Denied:
      return CandidateVerdict::PassOver;
    case MutexOpening::Failed:
      break;
  }
  return CandidateVerdict::Fail;
}

namespace {

bool OpenNamespace(LockObjects& objects) {
  for (int attempt = 0; attempt < NamespaceAttempts; ++attempt) {
    NamespaceOpening opening = objects.CreateNamespace();
    if (opening == NamespaceOpening::Exists) opening = objects.OpenNamespace();
    if (opening == NamespaceOpening::Opened) return true;
    if (opening != NamespaceOpening::Gone) return false;
  }
  return false;
}

std::optional<LockPlace> PlaceInNamespace(LockObjects& objects) {
  if (!OpenNamespace(objects)) return std::nullopt;
  // Only an administrator can create anything in the namespace, so whatever mutex is there is ours.
  const MutexOpening opening = objects.OpenMutex(LockNameInNamespace);
  if (opening != MutexOpening::Created && opening != MutexOpening::Existing) return std::nullopt;
  return LockPlace{LockRoute::PrivateNamespace, {LockNameInNamespace}};
}

std::optional<LockPlace> PlaceAmongGlobalNames(LockObjects& objects) {
  LockPlace place{LockRoute::GlobalName, {}};
  for (std::size_t index = 0; index < GlobalLockCandidates; ++index) {
    std::string name = GlobalLockName(index);
    const MutexOpening opening = objects.OpenMutex(name);
    const ObjectOwner owner =
        opening == MutexOpening::Existing ? objects.OwnerOfLastMutex() : ObjectOwner::None;
    switch (JudgeGlobalCandidate(opening, owner)) {
      case CandidateVerdict::Ours:
        place.names.push_back(std::move(name));
        break;
      case CandidateVerdict::PassOver:
        break;
      case CandidateVerdict::Fail:
        return std::nullopt;
    }
  }
  if (place.names.empty()) return std::nullopt;
  return place;
}

}  // namespace

std::optional<LockPlace> PlaceLock(LockObjects& objects) {
  std::optional<LockPlace> place =
      objects.HasPrivateNamespaces() ? PlaceInNamespace(objects) : PlaceAmongGlobalNames(objects);
  if (!place) objects.CloseAll();
  return place;
}

}  // namespace platform
