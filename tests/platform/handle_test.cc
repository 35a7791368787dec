#include "browserplatform/handleapi.h"

#include <gtest/gtest.h>

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

}  // namespace
