// The status lines as accessibility (MSAA) objects: what a screen reader asks a line (its
// object, named by its text) and is told about it (a change of text, the live-region annotation).
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <array>

#include "platform/Layout.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {

// Tells accessibility clients that `line`'s text changed, and, when it is visible, that its live
// region did, so that a reader speaks the new text.
void AnnounceLine(HWND line);

// Serves the status lines to accessibility clients, on the window's thread: the COM apartment,
// entered when a client first asks, each line's accessible object, and the lines' annotation as
// a polite live region (where the system offers annotations). Left, and the annotations cleared,
// by Release or at the latest when the object dies, on the same thread.
class AccessibilityServer {
 public:
  using AllocateString = BSTR(WINAPI*)(const OLECHAR*, UINT);

  AccessibilityServer() = default;
  AccessibilityServer(const AccessibilityServer&) = delete;
  AccessibilityServer& operator=(const AccessibilityServer&) = delete;
  ~AccessibilityServer() { Release(); }

  // Loads COM and the system's accessibility library, enters the apartment and annotates
  // `lines`, once; later calls do nothing. False when COM or the library is not there. The
  // program imports neither: a window nobody reads pays nothing for them at start-up.
  bool Prepare(const std::array<HWND, ControlCount>& lines);
  // The answer to WM_GETOBJECT for `line`'s client object (after a successful Prepare): the
  // system's standard object for it, as static text named by the line's text; 0 for the default
  // handling when that cannot be had.
  LRESULT Answer(HWND line, WPARAM wParam) const;
  void Release();

 private:
  using CreateStandardObject = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
  using ResultFromObject = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
  using InitializeCom = HRESULT(WINAPI*)(void*, DWORD);
  using CreateInstance = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, void**);
  using UninitializeCom = void(WINAPI*)();
  using Library = UniqueResource<HMODULE, CloseWith<&FreeLibrary>>;

  bool prepared_ = false;
  bool entered_ = false;
  // Loaded from the system folder on first need, never found elsewhere (oleacc is no known DLL).
  Library com_;      // ole32
  Library strings_;  // oleaut32, whose allocator the clients free the lines' names with
  Library library_;  // oleacc
  UninitializeCom uninitializeCom_ = nullptr;
  CreateStandardObject createStandardObject_ = nullptr;
  ResultFromObject resultFromObject_ = nullptr;
  AllocateString allocateString_ = nullptr;
  IAccPropServices* services_ = nullptr;  // owned
  std::array<HWND, ControlCount> annotated_{};
};

}  // namespace platform::win32
