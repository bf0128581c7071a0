// Binding the update library: all or nothing over the 90 lookups, and its configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fakes.h"
#include "updatelib/Binding.h"

namespace {

using fakes::FakeLibrary;
using fakes::FakeModuleLoader;
using updatelib::EntryPointTable;
using updatelib::LoadUpdateLibrary;

std::vector<std::string> LookupsUpTo(std::size_t count) {
  return {updatelib::LookupOrder.begin(), updatelib::LookupOrder.begin() + count};
}

TEST(Binding, ResolvesAllNinetyLookupsInOrderAndFillsTheCalledEntryPoints) {
  FakeModuleLoader loader;
  EntryPointTable table;
  EXPECT_EQ(LoadUpdateLibrary(loader, table), loader.loadResult);
  EXPECT_EQ(loader.loadedFiles, std::vector<std::string>{"ZRFWUpdateDll.dll"});
  EXPECT_EQ(loader.lookups, LookupsUpTo(90));
  EXPECT_EQ(loader.lookups[36], "ZR_SetEnableMultiSector");
  EXPECT_EQ(loader.lookups[38], "ZR_SetEnableMultiSector");
  EXPECT_TRUE(loader.released.empty());
#define EXPECT_FILLED(name, ret, params) EXPECT_NE(table.name, nullptr) << #name;
  FLASHWRIGHT_CALLED_ENTRY_POINTS(EXPECT_FILLED)
#undef EXPECT_FILLED
}

TEST(Binding, NamesAreEightyNineDistinctOnes) {
  std::vector<std::string> names(updatelib::LookupOrder.begin(), updatelib::LookupOrder.end());
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  EXPECT_EQ(names.size(), 89u);
}

TEST(Binding, StopsAtTheFirstMissingNameReleasesTheModuleAndClearsTheTable) {
  struct Case {
    std::string missing;
    std::size_t lookupsMade;
  };
  for (const Case& c :
       {Case{"ZR_GetDeviceList", 1}, Case{"ZR_GetFWVersion", 7}, Case{"ZR_SetInquiryCtl", 38},
        Case{"ZR_IsKV2xxSeries", 88}, Case{"ZR_SetZRKeepLast4KFileCopyNVRamchk", 90}}) {
    SCOPED_TRACE(c.missing);
    FakeModuleLoader loader;
    loader.missing = {c.missing};
    EntryPointTable table;
    EXPECT_EQ(LoadUpdateLibrary(loader, table), 0u);
    EXPECT_EQ(loader.lookups, LookupsUpTo(c.lookupsMade));
    EXPECT_EQ(loader.released, std::vector<platform::ModuleHandle>{loader.loadResult});
    EXPECT_EQ(table.ZR_GetDeviceList, nullptr);
  }
}

TEST(Binding, AModuleAlreadyLoadedIsUsedWithoutLoadingAnother) {
  FakeModuleLoader loader;
  loader.alreadyLoaded = 0x7000;
  EntryPointTable table;
  EXPECT_EQ(LoadUpdateLibrary(loader, table), 0x7000u);
  EXPECT_TRUE(loader.loadedFiles.empty());
  EXPECT_EQ(loader.lookups.size(), 90u);
}

TEST(Binding, AModuleThatCannotBeLoadedIsNotBoundAndNothingIsReleased) {
  FakeModuleLoader loader;
  loader.loadResult = 0;
  EntryPointTable table;
  EXPECT_EQ(LoadUpdateLibrary(loader, table), 0u);
  EXPECT_TRUE(loader.released.empty());
}

TEST(Binding, AnAllOnesHandlePassesThroughUnboundWithoutLookups) {
  FakeModuleLoader loader;
  loader.loadResult = platform::AllOnesModuleHandle;
  EntryPointTable table;
  EXPECT_EQ(LoadUpdateLibrary(loader, table), platform::AllOnesModuleHandle);
  EXPECT_TRUE(loader.lookups.empty());
  EXPECT_FALSE(updatelib::IsBound(platform::AllOnesModuleHandle));
  EXPECT_FALSE(updatelib::IsBound(0));
  EXPECT_TRUE(updatelib::IsBound(0x10000));
}

TEST(Binding, ConfigurationMakesTheFourSetterCallsInOrder) {
  FakeModuleLoader loader;
  EntryPointTable table;
  ASSERT_NE(LoadUpdateLibrary(loader, table), 0u);
  FakeLibrary::Instance().Reset();
  updatelib::ConfigureUpdateLibrary(table);
  EXPECT_EQ(FakeLibrary::Instance().calls,
            (std::vector<std::string>{"ZR_SetKV7300BindingCheck(1)",
                                      "ZR_SetZRKeepLast4KFileCopyNVRamchk(0)",
                                      "ZR_SetLoadEndUserFWFromResourceFlag(1)",
                                      "ZR_SetKV7300FWModuleForEndUserFWResource(3)"}));
}

}  // namespace
