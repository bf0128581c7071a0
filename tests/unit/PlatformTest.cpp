// The platform's portable pieces: the file name behind the application title, the version
// record, the error box's text rule and guard, and where the programming lock is placed.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Fakes.h"
#include "app/AppText.h"
#include "platform/ErrorBox.h"
#include "platform/FileName.h"
#include "platform/LockPlacement.h"
#include "platform/VersionRecord.h"

namespace {

TEST(FileNameStem, IsTheFileNameCutAtItsFirstDot) {
  using namespace std::string_view_literals;
  EXPECT_EQ(platform::FileNameStem("C:\\Program Files\\Tools\\Flashwright.exe"sv), "Flashwright");
  EXPECT_EQ(platform::FileNameStem("C:\\x\\FLASHWRIGHT.EXE"sv), "FLASHWRIGHT");
  EXPECT_EQ(platform::FileNameStem("Z:/tmp/mY.tool.v2.exe"sv), "mY");
  EXPECT_EQ(platform::FileNameStem("D:\\dir.with.dots\\fLaSh"sv), "fLaSh");
  EXPECT_EQ(platform::FileNameStem("D:fLaSh.exe"sv), "fLaSh");
  EXPECT_EQ(platform::FileNameStem("C:\\.hidden.exe"sv), "");
  EXPECT_EQ(platform::FileNameStem(""sv), "");
}

TEST(FileNameStem, CutsUtf16PathsByCharacter) {
  using namespace std::string_view_literals;
  EXPECT_EQ(platform::FileNameStem(u"C:\\x\\FLASHWRIGHT\u00C9\u00C4.exe"sv),
            u"FLASHWRIGHT\u00C9\u00C4"sv);
  // U+8868 is 0x95 0x5C in the Japanese code page: there its second byte is "\\".
  EXPECT_EQ(platform::FileNameStem(u"C:\\\u8868\\\u8868\u8868.tool.exe"sv), u"\u8868\u8868"sv);
}

TEST(FixedFileVersion, IsFoundAfterTheRecordHeader) {
  // Header (length, value length, type), "VS_VERSION_INFO" in UTF-16, padding, then the fixed
  // part: signature, structure version, file version MS and LS, ...
  std::vector<unsigned char> record(6 + 32 + 2, 0);
  const unsigned char fixed[] = {0xBD, 0x04, 0xEF, 0xFE, 0,    0, 1,    0,
                                 0x01, 0,    0x00, 0,    0x07, 0, 0x01, 0};
  record.insert(record.end(), std::begin(fixed), std::end(fixed));
  record.resize(record.size() + 36, 0);
  const auto version = platform::FixedFileVersion(record.data(), record.size());
  ASSERT_TRUE(version);
  EXPECT_EQ(app::FormatCaption(version), "KV7700 Flashwright v0.1.1.7");
}

TEST(FixedFileVersion, IsNothingWithoutACompleteFixedPart) {
  std::vector<unsigned char> record(40, 0);
  EXPECT_FALSE(platform::FixedFileVersion(record.data(), record.size()));
  const unsigned char truncated[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 1, 0, 0, 0};
  EXPECT_FALSE(platform::FixedFileVersion(truncated, sizeof truncated));
  EXPECT_FALSE(platform::FixedFileVersion(nullptr, 100));
}

TEST(VersionText, GivesTheFourSixteenBitPartsInOrder) {
  const struct {
    platform::FileVersion version;
    const char* text;
  } cases[] = {
      {{0x00000001, 0x00010007}, "0.1.1.7"},
      {{0x00020003, 0x00040005}, "2.3.4.5"},
      {{0xFFFF0000, 0x0000FFFF}, "65535.0.0.65535"},
      {{0, 0}, "0.0.0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::VersionText(c.version), c.text) << c.text;
}

TEST(ErrorBoxText, AppendsADotOnlyAfterACharacterAboveTheDot) {
  EXPECT_EQ(platform::ErrorBoxText("Access violation"), "Access violation.");
  EXPECT_EQ(platform::ErrorBoxText("Out of range 7"), "Out of range 7.");
  EXPECT_EQ(platform::ErrorBoxText("What?"), "What?.");
  EXPECT_EQ(platform::ErrorBoxText("Failed:"), "Failed:.");
  EXPECT_EQ(platform::ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(platform::ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(platform::ErrorBoxText("Spaced "), "Spaced ");
  EXPECT_EQ(platform::ErrorBoxText("Slash/"), "Slash/.");
  EXPECT_EQ(platform::ErrorBoxText("Caf\xE9"), "Caf\xE9.");  // bytes above 127 count as above "."
  EXPECT_EQ(platform::ErrorBoxText(""), "");
}

TEST(RunGuarded, ShowsAnEscapingExceptionInTheErrorBoxAndCarriesOn) {
  fakes::FakeDialogs dialogs;
  EXPECT_TRUE(platform::RunGuarded(dialogs, [] {}));
  EXPECT_FALSE(platform::RunGuarded(dialogs, [] { throw std::runtime_error("Disk full"); }));
  EXPECT_FALSE(platform::RunGuarded(dialogs, [] { throw 42; }));
  EXPECT_EQ(dialogs.errors, (std::vector<std::string>{"Disk full.", ""}));
}

// ---- where the programming lock is placed

using platform::LockPlace;
using platform::LockRoute;
using platform::MutexOpening;
using platform::NamespaceOpening;
using platform::ObjectOwner;

// The system's kernel objects as a script: the namespace calls answer in turn (Opened once the
// script runs out), a mutex name answers as the world says (Created when it is not there), and
// every open object is counted, so that a test sees what is left open.
class FakeLockObjects final : public platform::LockObjects {
 public:
  struct Object {
    MutexOpening opening;
    ObjectOwner owner = ObjectOwner::None;
  };

  bool hasNamespaces = false;
  std::deque<NamespaceOpening> createAnswers;
  std::deque<NamespaceOpening> openAnswers;
  std::map<std::string, Object, std::less<>> world;
  std::vector<std::string> mutexesTried;
  int openMutexes = 0;
  bool namespaceOpen = false;

  bool HasPrivateNamespaces() override { return hasNamespaces; }
  NamespaceOpening CreateNamespace() override { return Answer(createAnswers); }
  NamespaceOpening OpenNamespace() override { return Answer(openAnswers); }
  MutexOpening OpenMutex(std::string_view name) override {
    // The namespace's names are reachable only once it is open.
    EXPECT_EQ(name == platform::LockNameInNamespace, hasNamespaces) << name;
    if (hasNamespaces) {
      EXPECT_TRUE(namespaceOpen);
    }
    mutexesTried.emplace_back(name);
    const auto found = world.find(name);
    last_ = found == world.end() ? Object{MutexOpening::Created} : found->second;
    if (last_.opening == MutexOpening::Created || last_.opening == MutexOpening::Existing) {
      ++openMutexes;
    }
    return last_.opening;
  }
  ObjectOwner OwnerOfLastMutex() override {
    EXPECT_EQ(last_.opening, MutexOpening::Existing) << "owner asked of no existing mutex";
    return last_.owner;
  }
  void CloseAll() override {
    openMutexes = 0;
    namespaceOpen = false;
  }

 private:
  NamespaceOpening Answer(std::deque<NamespaceOpening>& answers) {
    NamespaceOpening answer = NamespaceOpening::Opened;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    if (answer == NamespaceOpening::Opened) namespaceOpen = true;
    return answer;
  }
  Object last_{MutexOpening::Failed};
};

TEST(PlaceLock, PrivateNamespaceWhenOfferedEveryGlobalNameOfOursOtherwise) {
  using enum NamespaceOpening;
  const std::string name0 = platform::GlobalLockName(0);
  const std::string name1 = platform::GlobalLockName(1);
  const std::string name2 = platform::GlobalLockName(2);
  const std::string name3 = platform::GlobalLockName(3);
  const LockPlace inNamespace{LockRoute::PrivateNamespace, {platform::LockNameInNamespace}};
  // The global names from `first` on, all but `skipped`.
  auto global = [](std::size_t first, std::size_t skipped = platform::GlobalLockCandidates) {
    LockPlace place{LockRoute::GlobalName, {}};
    for (std::size_t index = first; index < platform::GlobalLockCandidates; ++index) {
      if (index != skipped) place.names.push_back(platform::GlobalLockName(index));
    }
    return place;
  };
  constexpr int Every = platform::GlobalLockCandidates;
  std::map<std::string, FakeLockObjects::Object, std::less<>> anotherHoldsTheRest;
  for (std::size_t index = 1; index < platform::GlobalLockCandidates; ++index) {
    anotherHoldsTheRest[platform::GlobalLockName(index)] = {MutexOpening::Existing,
                                                            ObjectOwner::SystemOrAdministrators};
  }
  std::map<std::string, FakeLockObjects::Object, std::less<>> allSquatted;
  for (std::size_t index = 0; index < platform::GlobalLockCandidates; ++index) {
    allSquatted[platform::GlobalLockName(index)] = {MutexOpening::Existing, ObjectOwner::Other};
  }
  struct Case {
    const char* what;
    bool hasNamespaces;
    std::deque<NamespaceOpening> createAnswers;
    std::deque<NamespaceOpening> openAnswers;
    std::map<std::string, FakeLockObjects::Object, std::less<>> world;
    std::optional<LockPlace> place;
    std::size_t mutexesTried;
    int mutexesLeftOpen;  // the lock's, and the others' mutexes passed over on the way
  };
  const Case cases[] = {
      {"namespace created", true, {}, {}, {}, inNamespace, 1, 1},
      {"namespace another program created", true, {Exists}, {}, {}, inNamespace, 1, 1},
      {"namespace gone between create and open, created again",
       true,
       {Exists, Opened},
       {Gone},
       {},
       inNamespace,
       1,
       1},
      {"namespace keeps vanishing",
       true,
       {Exists, Exists, Exists},
       {Gone, Gone, Gone},
       {},
       std::nullopt,
       0,
       0},
      // Falling back to a global name here would let two programs hold two different locks.
      {"namespace refused (not elevated)", true, {Failed}, {}, {}, std::nullopt, 0, 0},
      {"namespace opened, opening it fails", true, {Exists}, {Failed}, {}, std::nullopt, 0, 0},
      {"mutex in the namespace fails",
       true,
       {},
       {},
       {{platform::LockNameInNamespace, {MutexOpening::Failed}}},
       std::nullopt,
       1,
       0},
      {"no namespaces, every name free", false, {}, {}, {}, global(0), Every, Every},
      {"no namespaces, first name held by another of ours",
       false,
       {},
       {},
       {{name0, {MutexOpening::Existing, ObjectOwner::SystemOrAdministrators}}},
       global(0),
       Every,
       Every},
      {"squatter with default security (no owner)",
       false,
       {},
       {},
       {{name0, {MutexOpening::Existing, ObjectOwner::None}}},
       global(1),
       Every,
       Every},
      {"squatter owning the mutex itself",
       false,
       {},
       {},
       {{name0, {MutexOpening::Existing, ObjectOwner::Other}},
        {name1, {MutexOpening::Existing, ObjectOwner::SystemOrAdministrators}}},
       global(1),
       Every,
       Every},
      // The program before met a squatter on the first name, which is gone now: this one takes
      // the first name too, and still meets the program before on all the others.
      {"squatter gone, another of ours holds the rest",
       false,
       {},
       {},
       anotherHoldsTheRest,
       global(0),
       Every,
       Every},
      {"no mutex, a denying one, a squatted one",
       false,
       {},
       {},
       {{name0, {MutexOpening::OtherKind}},
        {name1, {MutexOpening::Denied}},
        {name2, {MutexOpening::Existing, ObjectOwner::Other}}},
       global(3),
       Every,
       Every - 2},
      {"a squatter between names of ours",
       false,
       {},
       {},
       {{name3, {MutexOpening::Denied}}},
       global(0, 3),
       Every,
       Every - 1},
      {"every name squatted",
       false,
       {},
       {},
       allSquatted,
       std::nullopt,
       platform::GlobalLockCandidates,
       0},
      {"an error that proves nothing stops the walk",
       false,
       {},
       {},
       {{name0, {MutexOpening::Existing, ObjectOwner::Other}}, {name1, {MutexOpening::Failed}}},
       std::nullopt,
       2,
       0},
      {"unreadable owner stops the walk",
       false,
       {},
       {},
       {{name0, {MutexOpening::Existing, ObjectOwner::Unknown}}},
       std::nullopt,
       1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLockObjects objects;
    objects.hasNamespaces = c.hasNamespaces;
    objects.createAnswers = c.createAnswers;
    objects.openAnswers = c.openAnswers;
    objects.world = c.world;
    EXPECT_EQ(platform::PlaceLock(objects), c.place);
    EXPECT_EQ(objects.mutexesTried.size(), c.mutexesTried);
    EXPECT_EQ(objects.openMutexes, c.mutexesLeftOpen);
    EXPECT_EQ(objects.namespaceOpen, c.place && c.place->route == LockRoute::PrivateNamespace);
  }
}

TEST(GlobalLockName, IsTheOldNameThenNumberedOnes) {
  EXPECT_EQ(platform::GlobalLockName(0), "Global\\FlashwrightDeviceProgramming");
  EXPECT_EQ(platform::GlobalLockName(1), "Global\\FlashwrightDeviceProgramming-1");
  EXPECT_EQ(platform::GlobalLockName(platform::GlobalLockCandidates - 1),
            "Global\\FlashwrightDeviceProgramming-7");
}

}  // namespace
