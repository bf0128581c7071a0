// Fakes of the platform services and of the update library; see Fakes.h.
#include "Fakes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/Layout.h"
#include "updatelib/Binding.h"

namespace fakes {
namespace {

void Record(std::string call) { FakeLibrary::Instance().calls.push_back(std::move(call)); }

int ZR_API SetKV7300BindingCheck(int value) {
  Record("ZR_SetKV7300BindingCheck(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API SetZRKeepLast4KFileCopyNVRamchk(int value) {
  Record("ZR_SetZRKeepLast4KFileCopyNVRamchk(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API SetLoadEndUserFWFromResourceFlag(int value) {
  Record("ZR_SetLoadEndUserFWFromResourceFlag(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API SetKV7300FWModuleForEndUserFWResource(int value) {
  Record("ZR_SetKV7300FWModuleForEndUserFWResource(" + std::to_string(value) + ")");
  return 1;
}
int ZR_API GetDeviceList(char**, int* count) {
  Record("ZR_GetDeviceList");
  *count = 0;
  return 1;
}
int ZR_API GetChipType(char*, int*) { return Record("ZR_GetChipType"), 0; }
int ZR_API GetRunningCodeMode(char*, int*) { return Record("ZR_GetRunningCodeMode"), 0; }
int ZR_API GetFWVersion(char*, char*) { return Record("ZR_GetFWVersion"), 0; }
int ZR_API CheckLoadBinFileMatch(char*, int) { return Record("ZR_CheckLoadBinFileMatch"), 0; }
int ZR_API Inquiry(char*, unsigned char*, int, int*) { return Record("ZR_Inquiry"), 0; }
int ZR_API InitialCustomizedSettingTable() {
  return Record("ZR_InitialCustomizedSettingTable"), 1;
}
int ZR_API FWUpdateProgrammingNoCustomizedSetting(char*) {
  return Record("ZR_FWUpdateProgrammingNoCustomizedSetting"), 0;
}
void NeverCalled() { ADD_FAILURE() << "an entry point the program must never call was called"; }

template <class Function>
platform::RawProc Raw(Function* function) {
  return reinterpret_cast<platform::RawProc>(function);
}

const std::map<std::string, platform::RawProc>& CalledEntryPoints() {
  static const std::map<std::string, platform::RawProc> procs = {
      {"ZR_SetKV7300BindingCheck", Raw(&SetKV7300BindingCheck)},
      {"ZR_SetZRKeepLast4KFileCopyNVRamchk", Raw(&SetZRKeepLast4KFileCopyNVRamchk)},
      {"ZR_SetLoadEndUserFWFromResourceFlag", Raw(&SetLoadEndUserFWFromResourceFlag)},
      {"ZR_SetKV7300FWModuleForEndUserFWResource", Raw(&SetKV7300FWModuleForEndUserFWResource)},
      {"ZR_GetDeviceList", Raw(&GetDeviceList)},
      {"ZR_GetChipType", Raw(&GetChipType)},
      {"ZR_GetRunningCodeMode", Raw(&GetRunningCodeMode)},
      {"ZR_GetFWVersion", Raw(&GetFWVersion)},
      {"ZR_CheckLoadBinFileMatch", Raw(&CheckLoadBinFileMatch)},
      {"ZR_Inquiry", Raw(&Inquiry)},
      {"ZR_InitialCustomizedSettingTable", Raw(&InitialCustomizedSettingTable)},
      {"ZR_FWUpdateProgrammingNoCustomizedSetting", Raw(&FWUpdateProgrammingNoCustomizedSetting)},
  };
  return procs;
}

const char* Name(app::ControlId id) { return app::SpecOf(id).name; }

}  // namespace

FakeLibrary& FakeLibrary::Instance() {
  static FakeLibrary library;
  return library;
}

platform::ModuleHandle FakeModuleLoader::FindLoaded(const char* moduleName) {
  EXPECT_STREQ(moduleName, updatelib::ModuleName);
  return alreadyLoaded;
}

platform::ModuleHandle FakeModuleLoader::Load(const char* fileName) {
  loadedFiles.emplace_back(fileName);
  return loadResult;
}

platform::RawProc FakeModuleLoader::Resolve(platform::ModuleHandle, const char* name) {
  lookups.emplace_back(name);
  if (std::find(missing.begin(), missing.end(), name) != missing.end()) return nullptr;
  const auto& called = CalledEntryPoints();
  const auto found = called.find(name);
  return found != called.end() ? found->second : &NeverCalled;
}

void FakeControls::SetText(app::ControlId control, std::string_view text) {
  controls[control].text = text;
  log.push_back(std::string("text ") + Name(control) + "=" + std::string(text));
}

void FakeControls::SetVisible(app::ControlId control, bool visible) {
  controls[control].visible = visible;
  log.push_back(std::string(visible ? "show " : "hide ") + Name(control));
}

void FakeControls::SetEnabled(app::ControlId control, bool enabled) {
  controls[control].enabled = enabled;
  log.push_back(std::string(enabled ? "enable " : "disable ") + Name(control));
}

}  // namespace fakes
