// log-holder.exe FILE lock|share-read SECONDS: holds a log as any user's program could, for the
// tests that show no program waits on it long: `lock` opens it for reading and locks it whole,
// `share-read` opens it for reading and lets no one else write to it. Writes "held" on standard
// output once it holds the file, then keeps it for SECONDS. Exit code 2 for wrong arguments, 3
// when the file cannot be opened or locked.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const bool lock = std::wcscmp(argv[2], L"lock") == 0;
  if (!lock && std::wcscmp(argv[2], L"share-read") != 0) return 2;
  const DWORD share =
      lock ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
  const HANDLE file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  OVERLAPPED whole{};
  if (lock && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return 3;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(_wtoi(argv[3])) * 1000);
  CloseHandle(file);
  return 0;
}
