// The fakes of the system services that both programs own alike (the library's module loader and
// fault barrier, the version record, the sleep and shutdown block, the programming lock), as the
// form's and the command line's fixtures set them up.
#pragma once

#include "Fakes.h"

namespace fakes {

struct FakeSystem {
  FakeModuleLoader modules;
  FakeFaultBarrier faults;
  FakeVersionRecord versionRecord;
  FakeSleepAndShutdownBlock sleepAndShutdown;
  FakeProgrammingLock programmingLock;
  FakeAttemptStore attempts;
};

}  // namespace fakes
