// The simulated library's twelve calls as one interface, answered from a scenario (SimLibrary) or
// from a recording (Replayer), and which member answers each called entry point: the DLL's
// exports and the in-process forwarders are generated from the entry-point list through it.
#pragma once

#include <cstddef>
#include <string_view>

#include "updatelib/EntryPoints.h"

namespace sim {

// The interface's members, X(return type, name, parameter list): the four setters share one,
// whose `name` is the entry point's name, a text that outlives the call.
#define SIM_LIBRARY_CALLS(X)                                                                    \
  X(int, Setter, (std::string_view name, int value))                                            \
  X(int, GetDeviceList, (char** paths, int* count))                                             \
  X(int, GetChipType, (const char* path, int* chipType))                                        \
  X(int, GetRunningCodeMode, (const char* path, int* mode))                                     \
  X(int, GetFWVersion, (const char* path, char* version))                                       \
  X(int, CheckLoadBinFileMatch, (const char* path, int flag))                                   \
  X(int, Inquiry, (const char* path, unsigned char* buffer, int bufferLength, int* dataLength)) \
  X(int, InitialCustomizedSettingTable, ())                                                     \
  X(int, Program, (const char* path))

// In a class body: declares every member of the interface as overridden there.
#define SIM_OVERRIDE_LIBRARY_CALL(ret, name, params) ret name params override;
#define SIM_OVERRIDE_LIBRARY_CALLS SIM_LIBRARY_CALLS(SIM_OVERRIDE_LIBRARY_CALL)

// Pointer arguments may be null (nothing is written then); a path argument is read up to 260
// bytes, so an unterminated one does no harm. Not thread-safe: the host calls from one thread.
class SimulatedLibrary {
 public:
  virtual ~SimulatedLibrary() = default;

#define SIM_DECLARE_LIBRARY_CALL(ret, name, params) virtual ret name params = 0;
  SIM_LIBRARY_CALLS(SIM_DECLARE_LIBRARY_CALL)
#undef SIM_DECLARE_LIBRARY_CALL
};

// Answers the called entry point at `Index` of updatelib::LookupOrder from a library:
//   Answering<updatelib::LookupIndexOf("ZR_GetChipType")>{library}(path, chipType)
// An entry point taking one int is a setter; every other one has its line below, and one
// without fails to compile where it is generated.
template <std::size_t Index>
struct Answering {
  SimulatedLibrary& library;
  int operator()(int value) const { return library.Setter(updatelib::LookupOrder[Index], value); }
};

#define SIM_ANSWERING(name, call)                                           \
  template <>                                                               \
  struct Answering<updatelib::LookupIndexOf(#name)> {                       \
    SimulatedLibrary& library;                                              \
    auto operator()(auto... arguments) const { return call(arguments...); } \
  };
SIM_ANSWERING(ZR_GetDeviceList, library.GetDeviceList)
SIM_ANSWERING(ZR_GetChipType, library.GetChipType)
SIM_ANSWERING(ZR_GetRunningCodeMode, library.GetRunningCodeMode)
SIM_ANSWERING(ZR_GetFWVersion, library.GetFWVersion)
SIM_ANSWERING(ZR_CheckLoadBinFileMatch, library.CheckLoadBinFileMatch)
SIM_ANSWERING(ZR_Inquiry, library.Inquiry)
SIM_ANSWERING(ZR_InitialCustomizedSettingTable, library.InitialCustomizedSettingTable)
SIM_ANSWERING(ZR_FWUpdateProgrammingNoCustomizedSetting, library.Program)
#undef SIM_ANSWERING

}  // namespace sim
