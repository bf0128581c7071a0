// The data folder (%ProgramData%\Flashwright and its Logs and recordings), made with a security
// descriptor of its own and checked before each use, and files in it or elsewhere opened without
// following links. Header and source use nothing but the system, so the recorder builds them in.
#pragma once

#include <windows.h>

#include <string>

#include "platform/FolderTrust.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {

// The system's text for `error`, without its line break.
std::string SystemErrorText(DWORD error);

// The security descriptors the data folder is made with (the Windows tests compare a made folder
// with them). Owner Administrators; SYSTEM and Administrators full control, Users read and
// execute, for the folder and everything made in it; protected, so nothing above adds to it.
inline constexpr wchar_t DataFolderSecurity[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The logs are the administrators' alone: SYSTEM and Administrators full control and no one else,
// so no other user can open the log, and so none can lock it or hold it open against the
// programs' writers. Administrators read it; the fleet report reads copies.
inline constexpr wchar_t LogsSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// %ProgramData%\Flashwright\<leaf>, each of the two folders made when missing (owner
// Administrators; SYSTEM and Administrators full control, Users read, nothing inherited from
// above; Logs without Users) and then checked with DataFolderRefusal. A Logs folder that lets
// others in (as an earlier version made it) is narrowed to SYSTEM and Administrators, the files
// in it included; when it cannot be, the folder is still used and the reason goes to the debug
// output. Returns the folder's path; empty, with the reason as a sentence in `error`, when it
// cannot be made, read or trusted.
std::wstring DataFolder(const wchar_t* leaf, std::string& error);
// The recorder's folder, %ProgramData%\Flashwright\recordings, as DataFolder makes and checks it:
// the recorder records only when it passes, and support's commands ask it the same to say why not.
std::wstring RecordingsFolder(std::string& error);

// Reads who owns `folder`, whether it is a link and its access list, not following a link.
// False, with the reason in `error`, when it cannot be opened or read or is not a folder.
bool ReadFolderFacts(const std::wstring& folder, FolderFacts& facts, std::string& error);

enum class Creation {
  OpenOrCreate,  // an existing file, else a new one
  NewOnly,       // a new file; an existing name is an error
};

// Opens `path` as a file on a disk without following a link: a link (a reparse point), a file
// with more than one name (hard links), or a handle whose final path is not `path` is closed and
// refused with the reason in `error`. A missing file is made only under its own name, never at
// the far end of a dangling link. Every handle shares reading, writing and deleting (renaming).
// `openError`, when given, gets the system's code when the open itself failed (a sharing
// violation: another program has the file open and shares no writing).
UniqueFile OpenFileNoLink(const std::wstring& path, DWORD access, Creation creation,
                          std::string& error, DWORD* openError = nullptr);

// The account the process runs as, DOMAIN\name from what the computer holds itself, asking no
// domain controller (the SID's text when the name cannot be had so; empty when the token cannot
// be read).
std::string RunningAccountName();

// Whether `path` still names the file `file` has open (not renamed or replaced since).
bool StillNamed(HANDLE file, const std::wstring& path);

}  // namespace platform::win32
