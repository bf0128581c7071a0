// The window program's entry: the application window, the main window and its message loop,
// around a form that the program makes. Needs no Windows header of its callers.
#pragma once

#include <functional>
#include <memory>

#include "platform/Platform.h"

namespace platform::win32 {

// Makes the form once the windows and services exist. The form takes the window's messages from
// the start of its construction and is destroyed before the window.
using FormFactory = std::function<std::unique_ptr<Form>(const FormServices& services)>;

// Runs the program: the form is made (binding the library and scanning), its creation handler
// runs, and unless it says not to run, the window is shown and its message loop runs until the
// window is closed. A failure outside any handler is shown in the error box. Returns the exit
// code, 0.
int RunWindowProgram(const FormFactory& makeForm);

}  // namespace platform::win32
