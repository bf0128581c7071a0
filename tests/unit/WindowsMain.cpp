// unit_tests.exe's entry point: every unit test, but for those tests/unit/CMakeLists.txt leaves
// out on Windows (UNIT_TESTS_LEFT_OUT), unless a --gtest_filter of the caller's says otherwise.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  GTEST_FLAG_SET(filter, "-" UNIT_TESTS_LEFT_OUT);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
