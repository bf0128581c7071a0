// Forwarders from the update library's entry points to the one bound SimLibrary; see InProcess.h.
#include "sim/InProcess.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "sim/SimulatedLibrary.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

SimLibrary* boundLibrary = nullptr;
InProcessLibrary::Boundary boundBoundary = nullptr;

// Marks one forwarded call for the boundary callback, on the way in and out.
class Crossing {
 public:
  Crossing() {
    if (boundBoundary) boundBoundary(true);
  }
  ~Crossing() {
    if (boundBoundary) boundBoundary(false);
  }
  Crossing(const Crossing&) = delete;
  Crossing& operator=(const Crossing&) = delete;
};

SimLibrary& Current() {
  if (!boundLibrary) throw std::logic_error("no simulated library is bound in this process");
  return *boundLibrary;
}

}  // namespace

// The forwarders, one per entry point, named as the library names them. They live in a
// namespace of their own so that a profiler can leave everything below them out by name
// (callgrind: --toggle-collect='sim::bound::*').
namespace bound {

// The twelve called entry points, each answered by the member Answering names for it.
#define SIM_FORWARD(name, ret, params)                                                           \
  ret ZR_API name(FLASHWRIGHT_PARAMETERS(ret, params)) {                                         \
    const Crossing crossing;                                                                     \
    return Answering<updatelib::LookupIndexOf(#name)>{Current()}(FLASHWRIGHT_ARGUMENTS(params)); \
  }
FLASHWRIGHT_CALLED_ENTRY_POINTS(SIM_FORWARD)
#undef SIM_FORWARD

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
  if (boundLibrary) throw std::logic_error("a simulated library is already bound in this process");
  boundLibrary = &library_;
  boundBoundary = boundary;
}

InProcessLibrary::~InProcessLibrary() {
  boundLibrary = nullptr;
  boundBoundary = nullptr;
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
