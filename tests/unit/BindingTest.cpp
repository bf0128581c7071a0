// Binding the update library: all or nothing over the 90 lookups, and its configuration.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fakes.h"
#include "updatelib/Binding.h"
#include "updatelib/Gateway.h"

namespace {

using fakes::FakeModuleLoader;
using fakes::SimulatedLibrary;
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
  fakes::FakeFaultBarrier faults;
  updatelib::LibraryGateway library(faults);
  ASSERT_NE(library.Load(loader), 0u);
  SimulatedLibrary::Instance().Reset();
  updatelib::ConfigureUpdateLibrary(library);
  EXPECT_EQ(SimulatedLibrary::Instance().calls,
            (std::vector<std::string>{"ZR_SetKV7300BindingCheck(1)",
                                      "ZR_SetZRKeepLast4KFileCopyNVRamchk(0)",
                                      "ZR_SetLoadEndUserFWFromResourceFlag(1)",
                                      "ZR_SetKV7300FWModuleForEndUserFWResource(3)"}));
}

// The gateway owns the binding: released exactly once, whoever holds it last.
TEST(Gateway, ReleasesTheModuleOnceAfterMoves) {
  FakeModuleLoader loader;
  fakes::FakeFaultBarrier faults;
  {
    updatelib::LibraryGateway first(faults);
    ASSERT_EQ(first.Load(loader), loader.loadResult);
    updatelib::LibraryGateway second(std::move(first));
    EXPECT_FALSE(first.Bound());  // NOLINT(bugprone-use-after-move): moved-from is unbound
    updatelib::LibraryGateway third(faults);
    third = std::move(second);
    EXPECT_TRUE(third.Bound());
    EXPECT_TRUE(loader.released.empty());
  }
  EXPECT_EQ(loader.released, std::vector<platform::ModuleHandle>{loader.loadResult});
}

// A fault becomes an exception naming the entry point; calls inside a call or without a library
// are refused, and the gateway takes calls again after each.
TEST(Gateway, TurnsFaultsIntoExceptionsAndRefusesNestedCalls) {
  FakeModuleLoader loader;
  fakes::FakeFaultBarrier faults;
  updatelib::LibraryGateway library(faults);
  char path[] = "p";
  int chip = 0;
  EXPECT_THROW(library.ZR_GetChipType(path, &chip), std::logic_error);
  ASSERT_NE(library.Load(loader), 0u);
  SimulatedLibrary& fake = SimulatedLibrary::Instance();
  fake.Reset();
  fake.SetDevices({"p"});

  fake.FaultOnce("ZR_GetChipType", {0xC0000005, 0x6B8C4BCC});
  try {
    library.ZR_GetChipType(path, &chip);
    ADD_FAILURE() << "no exception";
  } catch (const updatelib::LibraryFault& fault) {
    EXPECT_STREQ(fault.what(),
                 "The update library failed in ZR_GetChipType: access violation at address "
                 "6B8C4BCC");
  }
  EXPECT_FALSE(library.Busy());
  EXPECT_EQ(updatelib::FaultText("ZR_Inquiry", {0xE06D7363, 0x1000}),
            "The update library failed in ZR_Inquiry: C++ exception (E06D7363) at address "
            "00001000");
  EXPECT_EQ(updatelib::FaultText("ZR_Inquiry", {0xE0434352, 0x1000}),
            "The update library failed in ZR_Inquiry: exception E0434352 at address 00001000");

  bool refused = false;
  fake.During("ZR_GetChipType", [&] {
    EXPECT_TRUE(library.Busy());
    int mode = 0;
    try {
      library.ZR_GetRunningCodeMode(path, &mode);
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  library.ZR_GetChipType(path, &chip);
  EXPECT_TRUE(refused);
  EXPECT_EQ(chip, 13);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"ZR_GetChipType crash", "ZR_GetChipType(p)"}));
}

}  // namespace
