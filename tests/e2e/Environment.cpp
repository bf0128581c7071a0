// Every end-to-end test starts and ends with no attempt records: the programs remember their
// programming attempts under HKLM\SOFTWARE\Flashwright, in the Wine prefix all the tests share, and
// a device one test programmed must not wait for its power cycle in the next.
#include <gtest/gtest.h>

#include "harness/Driver.h"

namespace e2e {
namespace {

class ForgetAttempts : public ::testing::Environment {
 public:
  void SetUp() override { Forget(); }
  void TearDown() override { Forget(); }

 private:
  static void Forget() { ForgetAttemptRecords(); }
};

[[maybe_unused]] ::testing::Environment* const Registered =
    ::testing::AddGlobalTestEnvironment(new ForgetAttempts);

}  // namespace
}  // namespace e2e
