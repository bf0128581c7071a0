// Forwarders from the update library's entry points to the one bound SimLibrary; see InProcess.h.
#include "sim/InProcess.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

SimLibrary* Bound = nullptr;
InProcessLibrary::Boundary BoundBoundary = nullptr;

// Marks one forwarded call for the boundary callback, on the way in and out.
class Crossing {
 public:
  Crossing() {
    if (BoundBoundary) BoundBoundary(true);
  }
  ~Crossing() {
    if (BoundBoundary) BoundBoundary(false);
  }
  Crossing(const Crossing&) = delete;
  Crossing& operator=(const Crossing&) = delete;
};

SimLibrary& Current() {
  if (!Bound) throw std::logic_error("no simulated library is bound in this process");
  return *Bound;
}

}  // namespace

// The forwarders, one per entry point, named as the library names them. They live in a
// namespace of their own so that a profiler can leave everything below them out by name
// (callgrind: --toggle-collect='sim::bound::*').
namespace bound {

int ZR_API ZR_SetKV7300BindingCheck(int value) {
  const Crossing crossing;
  return Current().Setter("ZR_SetKV7300BindingCheck", value);
}
int ZR_API ZR_SetZRKeepLast4KFileCopyNVRamchk(int value) {
  const Crossing crossing;
  return Current().Setter("ZR_SetZRKeepLast4KFileCopyNVRamchk", value);
}
int ZR_API ZR_SetLoadEndUserFWFromResourceFlag(int value) {
  const Crossing crossing;
  return Current().Setter("ZR_SetLoadEndUserFWFromResourceFlag", value);
}
int ZR_API ZR_SetKV7300FWModuleForEndUserFWResource(int value) {
  const Crossing crossing;
  return Current().Setter("ZR_SetKV7300FWModuleForEndUserFWResource", value);
}
int ZR_API ZR_GetDeviceList(char** paths, int* count) {
  const Crossing crossing;
  return Current().GetDeviceList(paths, count);
}
int ZR_API ZR_GetChipType(char* path, int* chipType) {
  const Crossing crossing;
  return Current().GetChipType(path, chipType);
}
int ZR_API ZR_GetRunningCodeMode(char* path, int* mode) {
  const Crossing crossing;
  return Current().GetRunningCodeMode(path, mode);
}
int ZR_API ZR_GetFWVersion(char* path, char* version) {
  const Crossing crossing;
  return Current().GetFWVersion(path, version);
}
int ZR_API ZR_CheckLoadBinFileMatch(char* path, int flag) {
  const Crossing crossing;
  return Current().CheckLoadBinFileMatch(path, flag);
}
int ZR_API ZR_Inquiry(char* path, unsigned char* buffer, int bufferLength, int* dataLength) {
  const Crossing crossing;
  return Current().Inquiry(path, buffer, bufferLength, dataLength);
}
int ZR_API ZR_InitialCustomizedSettingTable() {
  const Crossing crossing;
  return Current().InitialCustomizedSettingTable();
}
int ZR_API ZR_FWUpdateProgrammingNoCustomizedSetting(char* path) {
  const Crossing crossing;
  return Current().Program(path);
}

// Entry points the program binds but never calls: the unexpected call is logged and fails.
#define SIM_STUB(name, ret, params)                                                \
  ret ZR_API name params {                                                         \
    const Crossing crossing;                                                       \
    if (Current().Host().log) Current().Host().log(#name " (not simulated) -> 0"); \
    return 0;                                                                      \
  }
FLASHWRIGHT_ENTRY_POINTS(FLASHWRIGHT_SKIP_ENTRY_POINT, SIM_STUB, FLASHWRIGHT_SKIP_ENTRY_POINT)
#undef SIM_STUB

}  // namespace bound

namespace {

struct NamedProc {
  const char* name;
  platform::RawProc proc;
};

template <class Function>
platform::RawProc Raw(Function* function) {
  return reinterpret_cast<platform::RawProc>(function);
}

}  // namespace

InProcessLibrary::InProcessLibrary(Scenario world, SimHost host, Boundary boundary)
    : library_(std::move(host), std::move(world)) {
  if (Bound) throw std::logic_error("a simulated library is already bound in this process");
  Bound = &library_;
  BoundBoundary = boundary;
}

InProcessLibrary::~InProcessLibrary() {
  Bound = nullptr;
  BoundBoundary = nullptr;
}

platform::ModuleHandle InProcessLibrary::FindLoaded(const char*) { return 0; }

platform::ModuleHandle InProcessLibrary::Load(const char*) { return Handle; }

platform::RawProc InProcessLibrary::Resolve(platform::ModuleHandle, const char* name) {
  // Every exported name with its forwarder, the called ones checked against the program's types.
#define SIM_CALLED(name, ret, params) {#name, Raw(static_cast<updatelib::name##_Fn>(&bound::name))},
#define SIM_UNCALLED(name, ret, params) {#name, Raw(&bound::name)},
  static const NamedProc procs[] = {
      FLASHWRIGHT_ENTRY_POINTS(SIM_CALLED, SIM_UNCALLED, FLASHWRIGHT_SKIP_ENTRY_POINT)};
#undef SIM_CALLED
#undef SIM_UNCALLED
  for (const NamedProc& entry : procs) {
    if (std::strcmp(entry.name, name) == 0) return entry.proc;
  }
  return nullptr;
}

void InProcessLibrary::Release(platform::ModuleHandle) {}

}  // namespace sim
