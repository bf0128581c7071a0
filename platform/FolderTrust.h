// Whether a folder may be written to by a program that runs with administrator rights: who owns
// it, whether it is a link, and who else its access list lets change it. Portable: the Windows
// side (platform/win32/DataFolder.h) reads these facts from the folder's security descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Who an owner or an access entry names, as far as trust goes.
enum class Trustee {
  System,            // LocalSystem
  Administrators,    // BUILTIN\Administrators
  TrustedInstaller,  // the servicing account that owns the system's own files
  CreatorOwner,      // CREATOR OWNER: stands for whoever creates a child, granting nothing itself
  RunningAccount,    // the account this program runs as, when it runs with administrator rights
  Other,             // anyone else (its name is given)
};

// Access rights that let their holder change a folder or what is in it: write or append data
// (in a folder: add a file or a subfolder), write attributes, delete, delete a child, change the
// access list or the owner, and the generic write and all. Writing extended attributes is left
// out: it changes neither a name nor a content nor who may.
inline constexpr std::uint32_t ChangeRights = 0x0002 | 0x0004 | 0x0040 | 0x0100 | 0x00010000 |
                                              0x00040000 | 0x00080000 | 0x10000000 | 0x40000000;

struct AccessEntry {
  Trustee who = Trustee::Other;
  std::string name;  // of an Other: DOMAIN\name, or the SID when it has no name
  bool allows = true;
  std::uint32_t mask = 0;
};

// A folder as the check sees it. `path` is the folder's name as the message gives it.
struct FolderFacts {
  std::string path;
  Trustee owner = Trustee::Other;
  std::string ownerName;  // of an Other, as AccessEntry::name
  bool link = false;      // a reparse point, or a handle whose final path is elsewhere
  bool hasDacl = true;    // false: a null access list, which lets everyone do anything
  std::vector<AccessEntry> entries;
};

// Everyone other than SYSTEM, Administrators, TrustedInstaller and the running account who may
// change the folder: its owner (an owner may always rewrite the access list) and each trustee an
// allowing entry grants a change right, in the order met, each once. Denying entries are not
// subtracted: a grant anywhere in the list is taken as a grant. CREATOR OWNER is passed over: it
// grants only the creator of a child, and creating one already takes a right named here.
std::vector<std::string> OthersWhoMayChange(const FolderFacts& folder);

// Why a program running with administrator rights must not write in `folder`, as a sentence;
// empty when it may: the folder is a link, or owned by someone not trusted, or has no access
// list, or lets others change it.
std::string DataFolderRefusal(const FolderFacts& folder);

// The warning for a program's own folder, whose files run with the program's rights, as a
// sentence naming who else may change it; empty when no one may.
std::string ProgramFolderWarning(const FolderFacts& folder);

// Names joined for a sentence: "A", "A and B", "A, B and C".
std::string JoinNames(const std::vector<std::string>& names);

}  // namespace platform
