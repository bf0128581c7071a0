// The platform's portable pieces: the file name behind the application title, the version
// record, and the error box's text rule and guard.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "Fakes.h"
#include "app/AppText.h"
#include "platform/ErrorBox.h"
#include "platform/FileName.h"
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

}  // namespace
