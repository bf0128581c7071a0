// The application shell's texts: the window caption.
#include <gtest/gtest.h>

#include "app/AppText.h"

namespace {

TEST(Caption, TakesTheFourVersionNumbersFromTheTwoWords) {
  EXPECT_EQ(app::FormatCaption(platform::FileVersion{0x00000001, 0x00010007}),
            "KV7700 Flashwright v0.1.1.7");
  EXPECT_EQ(app::FormatCaption(platform::FileVersion{0xFFFF0002, 0x00030000}),
            "KV7700 Flashwright v65535.2.3.0");
}

TEST(Caption, IsTheTitleAloneWithoutAVersionRecord) {
  EXPECT_EQ(app::FormatCaption(std::nullopt), "KV7700 Flashwright");
}

}  // namespace
