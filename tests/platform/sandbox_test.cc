#include "browserplatform/sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browserplatform/fileapi.h"
#include "browserplatform/handleapi.h"
#include "browserplatform/ioapiset.h"
#include "browserplatform/process.h"
#include "browserplatform/synchapi.h"
#include "tests/common/fake_sandbox.h"
#include "tests/common/temp_folder.h"

namespace {

// Every query on.
class RecordingSandbox {
 public:
  std::vector<std::string> calls() const { return fake_.calls(); }

 private:
  testing_support::FakeSandbox fake_{true, true, true};
};

TEST(SandboxTest, QueriesAreFalseWithoutASandbox) {
  EXPECT_FALSE(CheckOvsafeEnable());
  EXPECT_FALSE(CheckHookEnable_waitable());
  EXPECT_FALSE(CheckHookEnable_file());
  RecordingSandbox sandbox;
  EXPECT_TRUE(CheckOvsafeEnable());
  EXPECT_TRUE(CheckHookEnable_waitable());
  EXPECT_TRUE(CheckHookEnable_file());
}

TEST(SandboxTest, CallsCarryOutThePlainOperationAndReportItsError) {
  RecordingSandbox sandbox;
  platform_test::TempFolder folder;
  std::u16string path = platform_test::Widen(folder.path() + "/made");

  DWORD error = 12345;
  EXPECT_TRUE(Internal_OV_Virtual_PrepareDirectoryAndRegKey());
  EXPECT_TRUE(Internal_OV_Virtual_CreateDirectory(1, path.c_str(), nullptr, &error));
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(Internal_OV_Virtual_CreateDirectory(1, path.c_str(), nullptr, &error));
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  HANDLE event = Internal_OV_Shared_CreateEvent(TRUE, FALSE, nullptr, &error);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Internal_OV_Shared_WaitForSingleObject(event, 0, &error), WAIT_TIMEOUT);
  EXPECT_TRUE(Internal_OV_Shared_SetEvent(event, &error));
  EXPECT_EQ(Internal_OV_Shared_WaitForSingleObject(event, 0, &error), WAIT_OBJECT_0);
  EXPECT_TRUE(Internal_OV_Shared_CloseWaitableObject(event, &error));
  EXPECT_FALSE(Internal_OV_Shared_SetEvent(event, &error));
  EXPECT_EQ(error, ERROR_INVALID_HANDLE);

  HANDLE port =
      Internal_OV_Shared_CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1, &error);
  ASSERT_NE(port, nullptr);
  OVERLAPPED overlapped{};
  EXPECT_TRUE(Internal_OV_Shared_PostQueuedCompletionStatus(port, 3, 7, &overlapped, &error));
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* out = nullptr;
  EXPECT_TRUE(Internal_OV_Shared_GetQueuedCompletionStatus(port, &bytes, &key, &out, 0, &error));
  EXPECT_EQ(bytes, 3u);
  EXPECT_EQ(key, 7u);
  EXPECT_EQ(out, &overlapped);
  EXPECT_FALSE(Internal_OV_Shared_GetQueuedCompletionStatus(port, &bytes, &key, &out, 0, &error));
  EXPECT_EQ(error, WAIT_TIMEOUT);
  EXPECT_TRUE(Internal_OV_Shared_CloseWaitableObject(port, &error));

  unsigned id = 0;
  auto thread = reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0, [](void*) -> unsigned { return 5; }, nullptr, 0, &id));
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(Internal_OV_Shared_WaitForThread(thread, 10000, &error), WAIT_OBJECT_0);
  EXPECT_TRUE(Internal_OV_Shared_CloseWaitableObject(thread, &error));

  EXPECT_EQ(
      sandbox.calls(),
      (std::vector<std::string>{
          "Internal_OV_Virtual_PrepareDirectoryAndRegKey", "Internal_OV_Virtual_CreateDirectory",
          "Internal_OV_Virtual_CreateDirectory", "Internal_OV_Shared_CreateEvent",
          "Internal_OV_Shared_WaitForSingleObject", "Internal_OV_Shared_SetEvent",
          "Internal_OV_Shared_WaitForSingleObject", "Internal_OV_Shared_CloseWaitableObject",
          "Internal_OV_Shared_SetEvent", "Internal_OV_Shared_CreateIoCompletionPort",
          "Internal_OV_Shared_PostQueuedCompletionStatus",
          "Internal_OV_Shared_GetQueuedCompletionStatus",
          "Internal_OV_Shared_GetQueuedCompletionStatus", "Internal_OV_Shared_CloseWaitableObject",
          "Internal_OV_Shared_WaitForThread", "Internal_OV_Shared_CloseWaitableObject"}));
}

}  // namespace
