// Binding the vendor's library, and the 77 entry points the program never calls, which pass
// straight through to it.
#include "recorder/VendorLibrary.h"

#include <string>

#include "platform/win32/ModulePath.h"
#include "platform/win32/Owners.h"

namespace recorder {
namespace {

constexpr wchar_t VendorFileName[] = L"ZRFWUpdateDll.dll";

#define REC_NAME(name, ...) #name,
constexpr std::array<const char*, static_cast<std::size_t>(Entry::Count)> EntryNames = {
    FLASHWRIGHT_ENTRY_POINTS(REC_NAME, REC_NAME, FLASHWRIGHT_SKIP_ENTRY_POINT)};
#undef REC_NAME
static_assert(EntryNames.size() == updatelib::EntryPointCount);

using UniqueModule = platform::UniqueResource<HMODULE, platform::win32::CloseWith<&FreeLibrary>>;

UniqueModule& Vendor() {
  static UniqueModule vendor;
  return vendor;
}
// Resolved entry points, held untyped; each is called through its listed type.
std::array<void*, EntryNames.size()> targets{};

}  // namespace

bool BindVendor(HMODULE self) {
  std::wstring path = platform::win32::ModulePath(self);
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  path = path.substr(0, slash + 1) + VendorFileName;
  // The vendor's own dependencies are looked for beside it first.
  UniqueModule loaded(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!loaded) return false;
  for (std::size_t i = 0; i < EntryNames.size(); ++i) {
    targets[i] = reinterpret_cast<void*>(GetProcAddress(loaded.Get(), EntryNames[i]));
    if (targets[i] == nullptr) return false;
  }
  Vendor() = std::move(loaded);
  return true;
}

void ReleaseVendor(bool processExit) {
  if (processExit) {
    Vendor().Detach();
  } else {
    Vendor().Reset();
  }
}

const char* NameOf(Entry entry) { return EntryNames[static_cast<std::size_t>(entry)]; }

void* TargetOf(Entry entry) { return targets[static_cast<std::size_t>(entry)]; }

}  // namespace recorder

// The entry points the program never calls pass straight through, each with the parameter list
// FLASHWRIGHT_ENTRY_POINTS gives it, so the stack is the caller's.
#define REC_PASS_THROUGH(name, ret, params)                              \
  extern "C" ret ZR_API name(FLASHWRIGHT_PARAMETERS(ret, params)) {      \
    return recorder::Target<ret(ZR_API*) params>(recorder::Entry::name)( \
        FLASHWRIGHT_ARGUMENTS(params));                                  \
  }
FLASHWRIGHT_ENTRY_POINTS(FLASHWRIGHT_SKIP_ENTRY_POINT, REC_PASS_THROUGH,
                         FLASHWRIGHT_SKIP_ENTRY_POINT)
#undef REC_PASS_THROUGH
