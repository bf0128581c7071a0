// The USB device interface class, the one GUID by which device changes are registered for and
// announced. Header-only, for the programs and the tools that announce changes alike.
#pragma once

#include <windows.h>

namespace platform::win32 {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
inline constexpr GUID UsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

}  // namespace platform::win32
