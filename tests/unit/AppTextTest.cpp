// The application shell's texts: title, caption and the error box's text rule.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "Fakes.h"
#include "app/AppText.h"
#include "app/Guard.h"

namespace {

TEST(FileNameStem, IsTheFileNameCutAtItsFirstDot) {
  using namespace std::string_view_literals;
  EXPECT_EQ(app::FileNameStem("C:\\Program Files\\Tools\\Flashwright.exe"sv), "Flashwright");
  EXPECT_EQ(app::FileNameStem("C:\\x\\FLASHWRIGHT.EXE"sv), "FLASHWRIGHT");
  EXPECT_EQ(app::FileNameStem("Z:/tmp/mY.tool.v2.exe"sv), "mY");
  EXPECT_EQ(app::FileNameStem("D:\\dir.with.dots\\fLaSh"sv), "fLaSh");
  EXPECT_EQ(app::FileNameStem("D:fLaSh.exe"sv), "fLaSh");
  EXPECT_EQ(app::FileNameStem("C:\\.hidden.exe"sv), "");
  EXPECT_EQ(app::FileNameStem(""sv), "");
}

TEST(FileNameStem, CutsUtf16PathsByCharacter) {
  using namespace std::string_view_literals;
  EXPECT_EQ(app::FileNameStem(u"C:\\x\\FLASHWRIGHT\u00C9\u00C4.exe"sv),
            u"FLASHWRIGHT\u00C9\u00C4"sv);
  // U+8868 is 0x95 0x5C in the Japanese code page: there its second byte is "\\".
  EXPECT_EQ(app::FileNameStem(u"C:\\\u8868\\\u8868\u8868.tool.exe"sv), u"\u8868\u8868"sv);
}

TEST(Caption, TakesTheFourVersionNumbersFromTheTwoWords) {
  EXPECT_EQ(app::FormatCaption(platform::FileVersion{0x00000001, 0x00010007}),
            "KV7700 Flashwright v0.1.1.7");
  EXPECT_EQ(app::FormatCaption(platform::FileVersion{0xFFFF0002, 0x00030000}),
            "KV7700 Flashwright v65535.2.3.0");
}

TEST(Caption, IsTheTitleAloneWithoutAVersionRecord) {
  EXPECT_EQ(app::FormatCaption(std::nullopt), "KV7700 Flashwright");
}

TEST(FixedFileVersion, IsFoundAfterTheRecordHeader) {
  // Header (length, value length, type), "VS_VERSION_INFO" in UTF-16, padding, then the fixed
  // part: signature, structure version, file version MS and LS, ...
  std::vector<unsigned char> record(6 + 32 + 2, 0);
  const unsigned char fixed[] = {0xBD, 0x04, 0xEF, 0xFE, 0,    0, 1,    0,
                                 0x01, 0,    0x00, 0,    0x07, 0, 0x01, 0};
  record.insert(record.end(), std::begin(fixed), std::end(fixed));
  record.resize(record.size() + 36, 0);
  const auto version = app::FixedFileVersion(record.data(), record.size());
  ASSERT_TRUE(version);
  EXPECT_EQ(app::FormatCaption(version), "KV7700 Flashwright v0.1.1.7");
}

TEST(FixedFileVersion, IsNothingWithoutACompleteFixedPart) {
  std::vector<unsigned char> record(40, 0);
  EXPECT_FALSE(app::FixedFileVersion(record.data(), record.size()));
  const unsigned char truncated[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 1, 0, 0, 0};
  EXPECT_FALSE(app::FixedFileVersion(truncated, sizeof truncated));
  EXPECT_FALSE(app::FixedFileVersion(nullptr, 100));
}

TEST(ErrorBoxText, AppendsADotOnlyAfterACharacterAboveTheDot) {
  EXPECT_EQ(app::ErrorBoxText("Access violation"), "Access violation.");
  EXPECT_EQ(app::ErrorBoxText("Out of range 7"), "Out of range 7.");
  EXPECT_EQ(app::ErrorBoxText("What?"), "What?.");
  EXPECT_EQ(app::ErrorBoxText("Failed:"), "Failed:.");
  EXPECT_EQ(app::ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(app::ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(app::ErrorBoxText("Spaced "), "Spaced ");
  EXPECT_EQ(app::ErrorBoxText("Slash/"), "Slash/.");
  EXPECT_EQ(app::ErrorBoxText("Caf\xE9"), "Caf\xE9.");  // bytes above 127 count as above "."
  EXPECT_EQ(app::ErrorBoxText(""), "");
}

TEST(RunGuarded, ShowsAnEscapingExceptionInTheErrorBoxAndCarriesOn) {
  fakes::FakeDialogs dialogs;
  EXPECT_TRUE(app::RunGuarded(dialogs, [] {}));
  EXPECT_FALSE(app::RunGuarded(dialogs, [] { throw std::runtime_error("Disk full"); }));
  EXPECT_FALSE(app::RunGuarded(dialogs, [] { throw 42; }));
  EXPECT_EQ(dialogs.errors, (std::vector<std::string>{"Disk full.", ""}));
}

}  // namespace
