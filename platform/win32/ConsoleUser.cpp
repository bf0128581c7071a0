// The person at the console; see ConsoleUser.h.
#include "platform/win32/ConsoleUser.h"

#include <string>

#include "platform/UniqueResource.h"
#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// WTSSendMessageW, spelled here: it is taken from wtsapi32.dll at run time, not imported.
using SendMessageToSession = BOOL(WINAPI*)(HANDLE server, DWORD sessionId, wchar_t* title,
                                           DWORD titleBytes, wchar_t* message, DWORD messageBytes,
                                           DWORD style, DWORD timeoutSeconds, DWORD* response,
                                           BOOL wait);
constexpr DWORD NoConsoleSession = 0xFFFFFFFF;  // WTSGetActiveConsoleSessionId: nobody attached

std::string Failure(const char* what, DWORD error) {
  std::string text = what;
  if (error != 0) text += " (error " + std::to_string(error) + ")";
  return text;
}

}  // namespace

bool TerminalConsoleUser::Interactive() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return true;
  return session != 0;
}

std::string TerminalConsoleUser::Tell(std::string_view title, std::string_view text,
                                      std::chrono::seconds timeout) {
  const DWORD session = WTSGetActiveConsoleSessionId();
  // Session 0 holds no one's desktop since Windows Vista: nobody is logged on at the console.
  if (session == NoConsoleSession || session == 0) return "nobody is logged on at the console";
  const UniqueResource<HMODULE, CloseWith<&FreeLibrary>> terminal(
      LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!terminal) return Failure("the terminal services library cannot be loaded", GetLastError());
  const auto send = reinterpret_cast<SendMessageToSession>(
      reinterpret_cast<void*>(GetProcAddress(terminal.Get(), "WTSSendMessageW")));
  if (send == nullptr) return "the terminal services library cannot send a message";
  std::wstring wideTitle = Utf8ToWide(title);
  std::wstring wideText = Utf8ToWide(text);
  DWORD response = 0;
  SetLastError(0);
  // Not waited for: the run goes on at once, and the box closes by itself after `timeout`.
  if (!send(nullptr /* this server */, session, wideTitle.data(),
            static_cast<DWORD>(wideTitle.size()) * sizeof(wchar_t), wideText.data(),
            static_cast<DWORD>(wideText.size()) * sizeof(wchar_t),
            MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND, static_cast<DWORD>(timeout.count()),
            &response, FALSE)) {
    return Failure("the message could not be sent to the console's session", GetLastError());
  }
  return {};
}

}  // namespace platform::win32
