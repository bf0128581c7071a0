// The Application event log under the source "Flashwright"; the message table that gives the
// events their text is compiled into the command-line program, which the installer registers as
// the source's message file.
#pragma once

#include "platform/Trail.h"

namespace platform::win32 {

class ApplicationEventLog final : public EventLog {
 public:
  void Report(Event event, const EventText& text) override;
};

}  // namespace platform::win32
