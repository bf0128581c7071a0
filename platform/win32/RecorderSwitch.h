// The support switch that puts the recorder in front of the update library: a value in the
// machine's registry that only administrators may change, and the recorder file beside the
// programs under its own name. While the switch is on and the recorder is there (signed by the
// programs' own publisher when the programs are signed), the module loader binds the recorder
// where it would bind the library; the recorder binds the library itself from the same folder.
#pragma once

#include <string>

namespace platform::win32 {

// The recorder's file, beside the programs.
inline constexpr wchar_t RecorderFileName[] = L"flashwright-recorder.dll";
// HKLM\SOFTWARE\Flashwright (64-bit view), DWORD Recording = 1 while recording is on.
inline constexpr wchar_t SupportKey[] = L"SOFTWARE\\Flashwright";
inline constexpr wchar_t RecordingValue[] = L"Recording";

// Whether the switch is on. Support's command sets and deletes it (SupportDesk.h).
bool RecordingSwitchedOn();

// The recorder's full path beside the running program, whether or not it is there.
std::wstring RecorderPathBesideProgram();

// Whether `file` may stand in for the library in a program at `program`: when the program carries
// a signature, `file` must carry one that verifies as well as the program's does, from a
// certificate with the same subject. An unsigned program takes an unsigned recorder. Reads the
// signatures with the system's trust libraries, loaded only for this call. Empty when it may,
// else why not.
std::string SignedAlike(const std::wstring& program, const std::wstring& file);

// The recorder to bind instead of the library: its full path while the switch is on, the file is
// there and SignedAlike allows it; else empty.
std::wstring RecorderToBind();

}  // namespace platform::win32
