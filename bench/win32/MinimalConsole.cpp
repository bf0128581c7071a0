// The floor for the command line's start-up: a console program built as flashwright-cli is (static
// C and C++ runtimes, the same options) that writes one line to standard output and ends. Built
// with FWBENCH_PROBE (and bench/win32/Probe.cpp) it also marks where its phases end.
#include <windows.h>

#ifdef FWBENCH_PROBE
#include "bench/win32/Probe.h"
#define END_OF_PHASE(name) fwbench::probe::EndOfPhase(name)
#else
#define END_OF_PHASE(name)
#endif

int main() {
  END_OF_PHASE("process start to main");
  static const char Line[] = "minimal console\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), Line, sizeof Line - 1, &written, nullptr);
  END_OF_PHASE("line written");
  return 0;
}
