// The services both programs own alike, in one aggregate; each lives in a room of its own.
#pragma once

#include "platform/win32/AppendOnlyLog.h"
#include "platform/win32/AttemptRegistry.h"
#include "platform/win32/EventLog.h"
#include "platform/win32/FaultBarrier.h"
#include "platform/win32/ModuleLoading.h"
#include "platform/win32/ProgrammingLock.h"

namespace platform::win32 {

// The services both programs own alike: the library from the program's own folder, the fault
// barrier around its calls, the program's version record, the machine-wide programming lock, the
// attempt records, the log and the event log.
struct SystemServices {
  ExeDirectoryModuleLoader modules;
  SehFaultBarrier faults;
  OwnVersionRecord versionRecord;
  MachineProgrammingLock programmingLock;
  RegistryAttemptStore attempts;
  AppendOnlyLog log;
  ApplicationEventLog events;
};

}  // namespace platform::win32
