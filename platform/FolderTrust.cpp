// The trust decision over a folder's security facts; see FolderTrust.h.
#include "platform/FolderTrust.h"

#include <algorithm>

namespace platform {
namespace {

bool Trusted(Trustee who) {
  return who == Trustee::System || who == Trustee::Administrators ||
         who == Trustee::TrustedInstaller || who == Trustee::RunningAccount;
}

void AddOnce(std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

}  // namespace

std::vector<std::string> OthersWhoMayChange(const FolderFacts& folder) {
  std::vector<std::string> others;
  if (!Trusted(folder.owner)) AddOnce(others, folder.ownerName);
  if (!folder.hasDacl) AddOnce(others, "Everyone");
  for (const AccessEntry& entry : folder.entries) {
    if (!entry.allows || (entry.mask & ChangeRights) == 0) continue;
    if (Trusted(entry.who) || entry.who == Trustee::CreatorOwner) continue;
    AddOnce(others, entry.name);
  }
  return others;
}

std::string DataFolderRefusal(const FolderFacts& folder) {
  if (folder.link) {
    return folder.path + " is a link to another place, not a folder of its own";
  }
  if (!Trusted(folder.owner)) {
    return folder.path + " is owned by " + folder.ownerName + ", not by Administrators or SYSTEM";
  }
  if (!folder.hasDacl) return folder.path + " has no access list, so everyone may change it";
  const std::vector<std::string> others = OthersWhoMayChange(folder);
  if (others.empty()) return {};
  return JoinNames(others) + (others.size() == 1 ? " is" : " are") + " allowed to change " +
         folder.path + ", where only SYSTEM and Administrators may";
}

std::string ProgramFolderWarning(const FolderFacts& folder) {
  const std::vector<std::string> others = OthersWhoMayChange(folder);
  if (others.empty()) return {};
  return JoinNames(others) + " may change " + folder.path +
         ", where this program and its library are: whoever replaces them runs code with this "
         "program's rights. Keep the programs in a folder only administrators can change, such "
         "as the installer's folder under Program Files.";
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string joined;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) joined += i + 1 == names.size() ? " and " : ", ";
    joined += names[i];
  }
  return joined;
}

}  // namespace platform
