// The floor for the command line's start-up: a console program built as flashwright-cli is (static
// C and C++ runtimes, the same options) that writes one line to standard output and ends.
#include <windows.h>

int main() {
  static const char Line[] = "minimal console\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), Line, sizeof Line - 1, &written, nullptr);
  return 0;
}
