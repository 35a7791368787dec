#include "browserplatform/timerqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "browserplatform/handleapi.h"
#include "browserplatform/synchapi.h"

namespace {

constexpr DWORD kLongWait = 10000;
using Clock = std::chrono::steady_clock;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

ScopedHandle NewEvent() { return ScopedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// What a callback records and waits for. The fixture owns it, so it outlives the queue.
struct Probe {
  std::atomic<int> calls{0};
  std::atomic<bool> running{false};
  std::atomic<bool> all_fired_true{true};
  ScopedHandle entered = NewEvent();
  ScopedHandle release = NewEvent();  // A blocking callback returns once this is set.
  HANDLE queue = nullptr;
  HANDLE timer = nullptr;
  BOOL delete_result = TRUE;
  DWORD delete_error = 0;
};

void Count(void* parameter, BOOLEAN fired) {
  auto* probe = static_cast<Probe*>(parameter);
  if (fired != TRUE) probe->all_fired_true = false;
  ++probe->calls;
  SetEvent(probe->entered.get());
}

void BlockUntilReleased(void* parameter, BOOLEAN) {
  auto* probe = static_cast<Probe*>(parameter);
  probe->running = true;
  ++probe->calls;
  SetEvent(probe->entered.get());
  WaitForSingleObject(probe->release.get(), kLongWait);
  probe->running = false;
}

void DeleteSelf(void* parameter, BOOLEAN) {
  auto* probe = static_cast<Probe*>(parameter);
  probe->delete_result = DeleteTimerQueueTimer(probe->queue, probe->timer, INVALID_HANDLE_VALUE);
  probe->delete_error = GetLastError();
  ++probe->calls;
  SetEvent(probe->entered.get());
}

void DeleteOwnQueue(void* parameter, BOOLEAN) {
  auto* probe = static_cast<Probe*>(parameter);
  probe->delete_result = DeleteTimerQueueEx(probe->queue, INVALID_HANDLE_VALUE);
  probe->delete_error = GetLastError();
  ++probe->calls;
  SetEvent(probe->entered.get());
}

// Holds the worker up for a while: the stall itself is the scenario.
void StallWorker(void*, BOOLEAN) { Sleep(200); }

class TimerQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    queue_ = CreateTimerQueue();
    ASSERT_NE(queue_, nullptr);
    probe_.queue = queue_;
  }
  void TearDown() override {
    if (queue_) {
      EXPECT_TRUE(DeleteTimerQueueEx(queue_, INVALID_HANDLE_VALUE));
    }
  }

  HANDLE AddTimer(WAITORTIMERCALLBACK callback, DWORD due_ms, DWORD period_ms,
                  ULONG flags = WT_EXECUTEDEFAULT) {
    // The handle is stored before the first call can read it.
    EXPECT_TRUE(
        CreateTimerQueueTimer(&probe_.timer, queue_, callback, &probe_, due_ms, period_ms, flags));
    return probe_.timer;
  }

  // The count stays put for a while: nothing fires any more. Not a wait for an event: a call
  // that wrongly comes has time to show.
  void ExpectNoMoreCalls() {
    int calls = probe_.calls;
    Sleep(60);
    EXPECT_EQ(probe_.calls, calls);
  }

  Probe probe_;
  HANDLE queue_ = nullptr;
};

TEST_F(TimerQueueTest, OneShotTimerFiresOnceWithTrue) {
  HANDLE timer = AddTimer(Count, 10, 0);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  ExpectNoMoreCalls();
  EXPECT_EQ(probe_.calls, 1);
  EXPECT_TRUE(probe_.all_fired_true);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE));
}

TEST_F(TimerQueueTest, OnlyOnceFlagIgnoresThePeriod) {
  HANDLE timer = AddTimer(Count, 0, 5, WT_EXECUTEONLYONCE);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  ExpectNoMoreCalls();
  EXPECT_EQ(probe_.calls, 1);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE));
}

TEST_F(TimerQueueTest, PeriodicTimerFiresNearItsPeriodUntilDeleted) {
  constexpr auto kPeriod = std::chrono::milliseconds(20);
  auto start = Clock::now();
  HANDLE timer = AddTimer(Count, 20, 20);
  Sleep(400);  // the calls made in this time are what is counted
  int calls = probe_.calls;
  auto elapsed = Clock::now() - start;
  EXPECT_GE(calls, 3);
  EXPECT_LE(calls, elapsed / kPeriod + 1);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE));
  ExpectNoMoreCalls();
  EXPECT_TRUE(probe_.all_fired_true);
}

// After the worker was held up, a periodic timer fires once and resumes on its planned
// times instead of making up for every missed period in a burst.
TEST_F(TimerQueueTest, LatePeriodicTimerDoesNotCatchUpInABurst) {
  constexpr auto kPeriod = std::chrono::milliseconds(10);
  constexpr auto kStall = std::chrono::milliseconds(200);
  auto start = Clock::now();
  HANDLE staller = nullptr;
  ASSERT_TRUE(CreateTimerQueueTimer(&staller, queue_, StallWorker, nullptr, 0, 0, 0));
  HANDLE timer = AddTimer(Count, 10, 10);
  Sleep(400);  // the calls made in this time are what is counted
  int calls = probe_.calls;
  auto elapsed = Clock::now() - start;
  EXPECT_GE(calls, 1);
  EXPECT_LE(calls, (elapsed - kStall) / kPeriod + 2);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE));
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, staller, INVALID_HANDLE_VALUE));
}

TEST_F(TimerQueueTest, ChangeRearmsATimerIncludingAFiredOneShot) {
  HANDLE timer = AddTimer(Count, kLongWait * 10, 0);
  ASSERT_TRUE(ChangeTimerQueueTimer(queue_, timer, 0, 0));
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(probe_.entered.get()));
  ASSERT_TRUE(ChangeTimerQueueTimer(queue_, timer, 0, 0));
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  ExpectNoMoreCalls();
  EXPECT_EQ(probe_.calls, 2);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE));
}

TEST_F(TimerQueueTest, DeleteWithInvalidHandleValueWaitsForTheRunningCallback) {
  HANDLE timer = AddTimer(BlockUntilReleased, 0, 10);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);

  std::atomic<bool> returned{false};
  BOOL deleted = FALSE;
  std::thread deleter([&] {
    deleted = DeleteTimerQueueTimer(queue_, timer, INVALID_HANDLE_VALUE);
    returned = true;
  });
  // Not a wait for an event: a deletion that wrongly returns early has time to show.
  Sleep(60);
  EXPECT_FALSE(returned);
  EXPECT_TRUE(probe_.running);

  ASSERT_TRUE(SetEvent(probe_.release.get()));
  deleter.join();
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(probe_.running);
  EXPECT_EQ(probe_.calls, 1);
  ExpectNoMoreCalls();
}

TEST_F(TimerQueueTest, DeleteWithoutWaitingReportsPendingWhileTheCallbackRuns) {
  for (bool with_event : {false, true}) {
    SCOPED_TRACE(with_event ? "event" : "null");
    probe_.calls = 0;
    ASSERT_TRUE(ResetEvent(probe_.entered.get()));
    ASSERT_TRUE(ResetEvent(probe_.release.get()));
    ScopedHandle completion = NewEvent();
    HANDLE timer = AddTimer(BlockUntilReleased, 0, 10);
    ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);

    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(queue_, timer, with_event ? completion.get() : nullptr));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(completion.get(), 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(probe_.release.get()));
    if (with_event) {
      EXPECT_EQ(WaitForSingleObject(completion.get(), kLongWait), WAIT_OBJECT_0);
      EXPECT_FALSE(probe_.running);
    }
    ExpectNoMoreCalls();
    EXPECT_EQ(probe_.calls, 1);
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(queue_, timer, nullptr));  // Already deleted.
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST_F(TimerQueueTest, DeleteOfAnIdleTimerSetsTheCompletionEventAtOnce) {
  ScopedHandle completion = NewEvent();
  HANDLE timer = AddTimer(Count, kLongWait * 10, 0);
  EXPECT_TRUE(DeleteTimerQueueTimer(queue_, timer, completion.get()));
  EXPECT_EQ(WaitForSingleObject(completion.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(probe_.calls, 0);
}

TEST_F(TimerQueueTest, CallbackDeletingItsOwnTimerDoesNotDeadlock) {
  AddTimer(DeleteSelf, 0, 10);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  ExpectNoMoreCalls();
  EXPECT_EQ(probe_.calls, 1);
  EXPECT_FALSE(probe_.delete_result);
  EXPECT_EQ(probe_.delete_error, ERROR_IO_PENDING);
}

void CreateAnotherTimer(void* parameter, BOOLEAN) {
  auto* probe = static_cast<Probe*>(parameter);
  HANDLE other = nullptr;
  if (CreateTimerQueueTimer(&other, probe->queue, Count, probe, 0, 0, 0) &&
      ChangeTimerQueueTimer(probe->queue, other, 5, 0)) {
    probe->timer = other;
  }
}

TEST_F(TimerQueueTest, CallbackMayCreateAndChangeTimersOfItsQueue) {
  HANDLE creator = nullptr;
  ASSERT_TRUE(CreateTimerQueueTimer(&creator, queue_, CreateAnotherTimer, &probe_, 0, 0, 0));
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_EQ(probe_.calls, 1);
}

TEST_F(TimerQueueTest, DeleteQueueWithInvalidHandleValueWaitsForRunningCallbacks) {
  HANDLE timer = AddTimer(BlockUntilReleased, 0, 10);
  AddTimer(Count, kLongWait * 10, 0);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);

  std::atomic<bool> returned{false};
  BOOL deleted = FALSE;
  std::thread deleter([&] {
    deleted = DeleteTimerQueueEx(queue_, INVALID_HANDLE_VALUE);
    returned = true;
  });
  // Not a wait for an event: a deletion that wrongly returns early has time to show.
  Sleep(60);
  EXPECT_FALSE(returned);
  ASSERT_TRUE(SetEvent(probe_.release.get()));
  deleter.join();
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(probe_.running);
  EXPECT_EQ(probe_.calls, 1);

  // The queue and its timers are gone.
  for (BOOL result :
       {DeleteTimerQueueEx(queue_, nullptr), DeleteTimerQueueTimer(queue_, timer, nullptr)}) {
    EXPECT_FALSE(result);
  }
  queue_ = nullptr;
}

TEST_F(TimerQueueTest, DeleteQueueFromItsOwnCallbackDoesNotDeadlock) {
  ScopedHandle stopped = NewEvent();
  AddTimer(DeleteOwnQueue, 0, 10);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_FALSE(probe_.delete_result);
  EXPECT_EQ(probe_.delete_error, ERROR_IO_PENDING);
  ExpectNoMoreCalls();
  EXPECT_EQ(probe_.calls, 1);
  queue_ = nullptr;
}

TEST_F(TimerQueueTest, DeleteQueueWithAnEventSetsItWhenTheWorkerHasStopped) {
  ScopedHandle stopped = NewEvent();
  AddTimer(BlockUntilReleased, 0, 10);
  ASSERT_EQ(WaitForSingleObject(probe_.entered.get(), kLongWait), WAIT_OBJECT_0);
  SetLastError(0);
  EXPECT_FALSE(DeleteTimerQueueEx(queue_, stopped.get()));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  queue_ = nullptr;
  EXPECT_EQ(WaitForSingleObject(stopped.get(), 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(probe_.release.get()));
  EXPECT_EQ(WaitForSingleObject(stopped.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_FALSE(probe_.running);
  EXPECT_EQ(probe_.calls, 1);
}

TEST_F(TimerQueueTest, RefusesBadArgumentsAndHandles) {
  HANDLE timer = nullptr;
  ScopedHandle event = NewEvent();
  struct Case {
    const char* name;
    HANDLE* new_timer;
    HANDLE queue;
    WAITORTIMERCALLBACK callback;
    DWORD error;
  };
  const Case cases[] = {
      {"null timer out-pointer", nullptr, queue_, Count, ERROR_INVALID_PARAMETER},
      {"null callback", &timer, queue_, nullptr, ERROR_INVALID_PARAMETER},
      {"not a queue", &timer, event.get(), Count, ERROR_INVALID_HANDLE},
      {"invalid handle value", &timer, INVALID_HANDLE_VALUE, Count, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_FALSE(CreateTimerQueueTimer(c.new_timer, c.queue, c.callback, &probe_, 0, 0, 0));
    EXPECT_EQ(GetLastError(), c.error);
  }

  // A timer is named together with its own queue.
  HANDLE other_queue = CreateTimerQueue();
  ASSERT_NE(other_queue, nullptr);
  timer = AddTimer(Count, kLongWait * 10, 0);
  for (HANDLE wrong_queue : {other_queue, static_cast<HANDLE>(nullptr)}) {
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(wrong_queue, timer, INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_FALSE(ChangeTimerQueueTimer(wrong_queue, timer, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), event.get(), queue_}) {
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(queue_, bad, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  for (HANDLE bad : {static_cast<HANDLE>(nullptr), event.get(), timer}) {
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueEx(bad, INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(DeleteTimerQueue(other_queue));
  EXPECT_EQ(probe_.calls, 0);
}

TEST(DefaultTimerQueueTest, NullQueueNamesTheProcessWideQueue) {
  Probe probe;
  HANDLE timer = nullptr;
  ASSERT_TRUE(CreateTimerQueueTimer(&timer, nullptr, Count, &probe, 0, 0, WT_EXECUTEDEFAULT));
  ASSERT_EQ(WaitForSingleObject(probe.entered.get(), kLongWait), WAIT_OBJECT_0);
  EXPECT_TRUE(DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
  EXPECT_EQ(probe.calls, 1);
}

}  // namespace
