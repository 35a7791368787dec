#include "browserplatform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"

namespace {

constexpr DWORD kLongWait = 10000;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

// What a started thread sees and does; the test owns it and outlives the thread's use of it.
struct Gate {
  ScopedHandle go{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScopedHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD id_inside = 0;
};

unsigned WaitForGo(void* argument) {
  auto* gate = static_cast<Gate*>(argument);
  gate->id_inside = GetCurrentThreadId();
  if (WaitForSingleObject(gate->go.get(), kLongWait) != WAIT_OBJECT_0) return 1;
  SetEvent(gate->done.get());
  return 42;
}

unsigned ReturnArgument(void* argument) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(argument));
}

HANDLE Start(unsigned (*start)(void*), void* argument, unsigned* thread_id = nullptr,
             unsigned stack_size = 0) {
  return reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, stack_size, start, argument, 0, thread_id));
}

TEST(ThreadTest, HandleIsSignalledWhenTheStartFunctionReturns) {
  Gate gate;
  unsigned thread_id = 0;
  ScopedHandle thread(Start(WaitForGo, &gate, &thread_id));
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(thread_id, 0u);
  EXPECT_NE(thread_id, GetCurrentThreadId());

  DWORD exit_code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread.get(), &exit_code));
  EXPECT_EQ(exit_code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_TIMEOUT);

  ASSERT_TRUE(SetEvent(gate.go.get()));
  ASSERT_EQ(WaitForSingleObject(thread.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_EQ(gate.id_inside, thread_id);
  ASSERT_TRUE(GetExitCodeThread(thread.get(), &exit_code));
  EXPECT_EQ(exit_code, 42u);
  // A finished thread stays signalled for every later wait.
  EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0);
}

TEST(ThreadTest, ClosingTheHandleLeavesTheThreadRunning) {
  Gate gate;
  HANDLE thread = Start(WaitForGo, &gate);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));
  DWORD exit_code = 0;
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeThread(thread, &exit_code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  ASSERT_TRUE(SetEvent(gate.go.get()));
  EXPECT_EQ(WaitForSingleObject(gate.done.get(), kLongWait), WAIT_OBJECT_0);
}

TEST(ThreadTest, WaitAllOnManyThreadsReturnsOnceEveryOneHasEnded) {
  std::vector<ScopedHandle> threads;
  std::vector<HANDLE> handles;
  for (uintptr_t i = 0; i < 8; ++i) {
    threads.emplace_back(Start(ReturnArgument, reinterpret_cast<void*>(i)));
    ASSERT_NE(threads.back(), nullptr);
    handles.push_back(threads.back().get());
  }
  ASSERT_EQ(WaitForMultipleObjects(8, handles.data(), TRUE, kLongWait), WAIT_OBJECT_0);
  for (DWORD i = 0; i < 8; ++i) {
    DWORD exit_code = STILL_ACTIVE;
    ASSERT_TRUE(GetExitCodeThread(handles[i], &exit_code));
    EXPECT_EQ(exit_code, i);
  }
}

TEST(ThreadTest, StackSizeIsRoundedUpToTheSystemMinimum) {
  for (unsigned stack_size : {1u, 100000u, 1u << 20}) {
    SCOPED_TRACE(stack_size);
    ScopedHandle thread(
        Start(ReturnArgument, reinterpret_cast<void*>(uintptr_t{7}), nullptr, stack_size));
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread.get(), kLongWait), WAIT_OBJECT_0);
    DWORD exit_code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &exit_code));
    EXPECT_EQ(exit_code, 7u);
  }
}

TEST(ThreadTest, RefusesSuspendedStartNullFunctionAndBadHandles) {
  struct Case {
    unsigned (*start)(void*);
    unsigned init_flag;
  };
  for (const Case& c : {Case{ReturnArgument, CREATE_SUSPENDED}, Case{nullptr, 0}}) {
    errno = 0;
    SetLastError(0);
    unsigned thread_id = 123;
    EXPECT_EQ(_beginthreadex(nullptr, 0, c.start, nullptr, c.init_flag, &thread_id), 0u);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }

  ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD exit_code = 0;
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), event.get()}) {
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(handle, &exit_code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  ScopedHandle thread(Start(ReturnArgument, nullptr));
  ASSERT_NE(thread, nullptr);
  SetLastError(0);
  EXPECT_FALSE(GetExitCodeThread(thread.get(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForSingleObject(thread.get(), kLongWait), WAIT_OBJECT_0);
}

}  // namespace
