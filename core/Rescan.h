// The rescan after device changes: its window timer and its delay.
#pragma once

#include <cstdint>

namespace core {

inline constexpr std::uintptr_t RescanTimerId = 101;
inline constexpr unsigned RescanDelay = 200;  // milliseconds

}  // namespace core
