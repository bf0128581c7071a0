// Owners for the handles both programs take from Windows, one per kind, each released exactly
// once by its owner. They are platform::UniqueResource with the release call of the kind and its
// empty value: null for every kind here except a file and a file search, whose failed opens give
// INVALID_HANDLE_VALUE. A handle that no owner holds is a bug; none is closed by hand.
#pragma once

#include <windows.h>

#include "platform/UniqueResource.h"

namespace platform::win32 {

// The release call `Close` as a release policy; `Empty()` when the kind's empty value is not null.
template <auto Close>
struct CloseWith {
  template <class Handle>
  void operator()(Handle handle) const {
    Close(handle);
  }
};
struct CloseFile : CloseWith<&CloseHandle> {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
};
struct CloseFind : CloseWith<&FindClose> {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
};
struct ReleaseScreenDc {
  void operator()(HDC screen) const { ReleaseDC(nullptr, screen); }
};

// Events, mutexes, process tokens, threads: every kernel handle whose failure value is null.
using UniqueHandle = UniqueResource<HANDLE, CloseWith<&CloseHandle>>;
// What CreateFile opens.
using UniqueFile = UniqueResource<HANDLE, CloseFile>;
// What FindFirstFileEx opens.
using UniqueFind = UniqueResource<HANDLE, CloseFind>;
using UniqueDeviceNotification =
    UniqueResource<HDEVNOTIFY, CloseWith<&UnregisterDeviceNotification>>;
using UniqueWindow = UniqueResource<HWND, CloseWith<&DestroyWindow>>;
using UniqueFont = UniqueResource<HFONT, CloseWith<&DeleteObject>>;
using UniqueScreenDc = UniqueResource<HDC, ReleaseScreenDc>;
using UniqueKey = UniqueResource<HKEY, CloseWith<&RegCloseKey>>;
// What the system allocates for the caller with LocalAlloc (FormatMessage's text, say).
using UniqueLocalMemory = UniqueResource<HLOCAL, CloseWith<&LocalFree>>;

}  // namespace platform::win32
