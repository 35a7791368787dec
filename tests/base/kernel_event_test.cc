#include "base/kernel_event.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/fake_sandbox.h"

namespace {

using testing_support::FakeSandbox;

void Exercise(base::CKernelEvent& event) {
  ASSERT_TRUE(event.Create(TRUE, FALSE));
  EXPECT_FALSE(event.Wait(0));
  std::thread setter([&] { EXPECT_TRUE(event.Set()); });
  EXPECT_TRUE(event.Wait(5000));
  setter.join();
  EXPECT_TRUE(event.Wait(0)) << "manual reset stays signalled";
  event.Close();
  EXPECT_FALSE(event.is_valid());
}

TEST(KernelEventTest, RoutesThroughTheSandboxOnlyWhenItAsks) {
  struct Case {
    bool ovsafe;
    bool waitable;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false, false, {}},
      {false, true, {}},
      // Setting needs only the first query; the rest need both.
      {true, false, {"Internal_OV_Shared_SetEvent"}},
      {true,
       true,
       {"Internal_OV_Shared_CreateEvent", "Internal_OV_Shared_WaitForSingleObject",
        "Internal_OV_Shared_SetEvent", "Internal_OV_Shared_WaitForSingleObject",
        "Internal_OV_Shared_WaitForSingleObject", "Internal_OV_Shared_CloseWaitableObject"}},
  };
  for (const Case& c : cases) {
    FakeSandbox sandbox(c.ovsafe, c.waitable, /*file=*/false);
    base::CKernelEvent event;
    Exercise(event);
    std::vector<std::string> calls = sandbox.calls();
    if (c.ovsafe && c.waitable) {
      // The setter thread races the first wait; compare as multisets.
      std::sort(calls.begin(), calls.end());
      std::vector<std::string> expected = c.expected;
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(calls, expected);
    } else {
      EXPECT_EQ(calls, c.expected);
    }
  }
}

TEST(KernelEventTest, AutoResetAndInvalidUse) {
  base::CKernelEvent event;
  EXPECT_FALSE(event.Set());
  EXPECT_FALSE(event.Wait(0));
  ASSERT_TRUE(event.Create(FALSE, TRUE));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0)) << "an auto-reset event is consumed by the wait";
}

}  // namespace
