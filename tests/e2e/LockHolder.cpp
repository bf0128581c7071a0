// lock-holder.exe: takes the machine-wide programming lock exactly as the programs do and ends at
// once without letting it go, as a program that dies while programming would. Its exit code is
// what taking the lock gave: 0 taken, 1 abandoned by the one before, 2 busy, 3 failed.
#include <windows.h>

#include <chrono>

#include "platform/win32/ProgrammingLock.h"

int main() {
  platform::win32::MachineProgrammingLock lock;
  const auto take = lock.TryLock(std::chrono::milliseconds(0));
  // ExitProcess runs no destructor: the lock is still held when the process ends.
  ExitProcess(static_cast<UINT>(take));
}
