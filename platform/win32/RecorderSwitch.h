// The support switch that puts the recorder in front of the update library: a value in the
// machine's registry that only administrators may change, and the recorder file beside the
// programs under its own name. While the switch is on and the recorder is there (signed with the
// programs' own key when the programs are signed), the module loader binds the recorder
// where it would bind the library; the recorder binds the library itself from the same folder.
#pragma once

#include <string>

#include "platform/RecorderTrust.h"

namespace platform::win32 {

// The recorder's file, beside the programs.
inline constexpr wchar_t RecorderFileName[] = L"flashwright-recorder.dll";
// HKLM\SOFTWARE\Flashwright (64-bit view), DWORD Recording = 1 while recording is on.
inline constexpr wchar_t SupportKey[] = L"SOFTWARE\\Flashwright";
inline constexpr wchar_t RecordingValue[] = L"Recording";
// QWORD beside it: when the switch was last turned on, UTC seconds since 1970.
inline constexpr wchar_t RecordingSinceValue[] = L"RecordingSince";
// The command line a program was started with ("window" for the window program), which each
// program puts in its own environment before it binds the library, for the recorder to name in
// the recording's origin note.
inline constexpr wchar_t RecordedCommandVariable[] = L"FLASHWRIGHT_RECORDED_COMMAND";

// Whether the switch is on. Support's command sets and deletes it (SupportDesk.h).
bool RecordingSwitchedOn();

// The recorder's full path beside the running program, whether or not it is there.
std::wstring RecorderPathBesideProgram();

// Whether `file` may stand in for the library in a program at `program`, as JudgeRecorder
// (platform/RecorderTrust.h) decides from both files' signatures: an unsigned program takes any
// recorder, a signed one only a recorder whose signature the system trusts, made with the same
// key. Reads the signatures with the system's trust libraries (crypt32 and wintrust, from the
// system folder only), loaded only for this call.
RecorderVerdict RecorderSigning(const std::wstring& program, const std::wstring& file);

// The recorder to bind instead of the library: its full path while the switch is on, the file is
// there and RecorderSigning allows it; else empty.
std::wstring RecorderToBind();

}  // namespace platform::win32
