// The Application event log; see EventLog.h.
#include "platform/win32/EventLog.h"

#include <windows.h>

#include "platform/win32/Text.h"

namespace platform::win32 {

void ApplicationEventLog::Report(Event event, const EventText& text) {
  const HANDLE source = RegisterEventSourceW(nullptr, L"Flashwright");
  if (source == nullptr) return;
  const std::wstring strings[] = {Utf8ToWide(text.program), Utf8ToWide(text.path),
                                  Utf8ToWide(text.identity), Utf8ToWide(text.versionBefore),
                                  Utf8ToWide(text.detail)};
  const wchar_t* pointers[] = {strings[0].c_str(), strings[1].c_str(), strings[2].c_str(),
                               strings[3].c_str(), strings[4].c_str()};
  const WORD type = event == Event::Failed || event == Event::DidNotTake ? EVENTLOG_ERROR_TYPE
                    : event == Event::Updated                            ? EVENTLOG_INFORMATION_TYPE
                                                                         : EVENTLOG_WARNING_TYPE;
  ReportEventW(source, type, 0, static_cast<DWORD>(event), nullptr, 5, 0, pointers, nullptr);
  DeregisterEventSource(source);
}

}  // namespace platform::win32
