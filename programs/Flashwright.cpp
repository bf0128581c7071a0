// Flashwright.exe, the window program: its main window's behaviour is TForm1.
#include <windows.h>

#include <memory>

#include "app/TForm1.h"
#include "platform/win32/RecorderSwitch.h"
#include "platform/win32/WindowProgram.h"

int main() {
  // For a recording made of this run.
  SetEnvironmentVariableW(platform::win32::RecordedCommandVariable, L"window");
  return platform::win32::RunWindowProgram([](const platform::FormServices& services) {
    return std::make_unique<app::TForm1>(services);
  });
}
