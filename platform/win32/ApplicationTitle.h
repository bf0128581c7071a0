// The application's title, as the taskbar entry and the error boxes show it.
#pragma once

#include <string>

namespace platform::win32 {

// The running executable's file name without its directory, cut at its first dot, every
// character after the first in lower case, in the ANSI code page (the one the windows take their
// texts in). Lower case as CharLowerBuffA has it, so letters beyond ASCII count too. Empty when
// the name cannot be had.
std::string ApplicationTitle();

}  // namespace platform::win32
