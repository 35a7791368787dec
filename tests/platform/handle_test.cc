#include "browserplatform/handleapi.h"

#include <gtest/gtest.h>

#include "browserplatform/synchapi.h"
#include "tests/common/handle_limit.h"

#include <thread>

namespace {

TEST(HandleTest, ClosingUnknownHandlesFailsWithInvalidHandle) {
  for (HANDLE h :
       {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
        reinterpret_cast<HANDLE>(uintptr_t{0x1234}), reinterpret_cast<HANDLE>(uintptr_t{3})}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST(HandleTest, LastErrorIsPerThread) {
  SetLastError(42);
  DWORD seen = 0;
  std::thread([&] { seen = GetLastError(); }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), 42u);
}

TEST(HandleTest, AFullTableRefusesNewObjectsUntilAHandleIsClosed) {
  HANDLE first = nullptr;
  {
    testing_support::ScopedHandleLimit limit(1);
    first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(first, nullptr);
    SetLastError(0);
    EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_TRUE(CloseHandle(first));
    first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(first, nullptr) << "a closed handle makes room";
  }
  HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(second, nullptr) << "no limit once the scope is left";
  CloseHandle(first);
  CloseHandle(second);
}

}  // namespace
