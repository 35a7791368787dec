#include "browserplatform/synchapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "browserplatform/handleapi.h"
#include "browserplatform/ioapiset.h"
#include "platform/handle_table.h"
#include "tests/common/eventually.h"

namespace {

using testing_support::Eventually;

// Bounds every wait that is expected to succeed, so that a fault fails instead of hanging.
constexpr DWORD kLongWait = 10000;

// True once `count` threads are blocked in a wait on `handle`.
bool BlockedOn(HANDLE handle, size_t count) {
  return Eventually([&] { return platform::BlockedWaiterCountForTesting(handle) == count; });
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

ScopedHandle NewEvent(bool manual_reset, bool signaled) {
  HANDLE event = CreateEventW(nullptr, manual_reset, signaled, nullptr);
  EXPECT_NE(event, nullptr);
  return ScopedHandle(event);
}

ScopedHandle NewSemaphore(LONG initial, LONG maximum) {
  HANDLE semaphore = CreateSemaphoreW(nullptr, initial, maximum, nullptr);
  EXPECT_NE(semaphore, nullptr);
  return ScopedHandle(semaphore);
}

TEST(CriticalSectionTest, IsReentrantForItsOwnerAndExcludesOthers) {
  CRITICAL_SECTION section;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 4000));
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));
  BOOL other_entered = TRUE;
  std::thread([&] { other_entered = TryEnterCriticalSection(&section); }).join();
  EXPECT_FALSE(other_entered);

  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  std::thread([&] {
    other_entered = TryEnterCriticalSection(&section);
    if (other_entered) LeaveCriticalSection(&section);
  }).join();
  EXPECT_TRUE(other_entered);
  DeleteCriticalSection(&section);
}

TEST(CriticalSectionTest, SerialisesPlainCounterUpdates) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  int counter = 0;  // Not atomic: only the section protects it (TSan checks that).
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);
        ++counter;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 4 * 5000);
  DeleteCriticalSection(&section);
}

TEST(InterlockedTest, ReturnWhatWindowsDocuments) {
  volatile LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&value, 10), 5);
  EXPECT_EQ(value, 15);
  EXPECT_EQ(InterlockedExchange(&value, -1), 15);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, 0), -1);  // Mismatch: unchanged.
  EXPECT_EQ(value, -1);
  EXPECT_EQ(InterlockedCompareExchange(&value, 7, -1), -1);
  EXPECT_EQ(value, 7);

  volatile LONGLONG wide = LONGLONG{1} << 40;
  EXPECT_EQ(InterlockedCompareExchange64(&wide, 3, 2), LONGLONG{1} << 40);
  EXPECT_EQ(InterlockedCompareExchange64(&wide, 3, LONGLONG{1} << 40), LONGLONG{1} << 40);
  EXPECT_EQ(wide, 3);

  int a = 0, b = 0;
  void* volatile pointer = &a;
  EXPECT_EQ(InterlockedExchangePointer(&pointer, &b), &a);
  EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, nullptr, &a), &b);
  EXPECT_EQ(pointer, &b);
  EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, nullptr, &b), &b);
  EXPECT_EQ(pointer, nullptr);
}

TEST(InterlockedTest, ConcurrentIncrementsAreNotLost) {
  volatile LONG counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) InterlockedIncrement(&counter);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

TEST(EventTest, ManualResetReleasesEveryWaiterAndStaysSignalled) {
  ScopedHandle event = NewEvent(/*manual_reset=*/true, /*signaled=*/false);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event.get(), kLongWait) == WAIT_OBJECT_0) ++released;
    });
  }
  ASSERT_TRUE(BlockedOn(event.get(), 3));
  ASSERT_TRUE(SetEvent(event.get()));
  EXPECT_EQ(platform::BlockedWaiterCountForTesting(event.get()), 0u);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event.get()));
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

// A signal completes the waits it satisfies at once, as on Windows: a reset right after it
// does not take the release back from a waiter that was already blocked.
TEST(EventTest, ResetRightAfterSetStillReleasesBlockedWaiter) {
  ScopedHandle event = NewEvent(/*manual_reset=*/true, /*signaled=*/false);
  DWORD result = WAIT_FAILED;
  std::thread waiter([&] { result = WaitForSingleObject(event.get(), kLongWait); });
  ASSERT_TRUE(BlockedOn(event.get(), 1));
  ASSERT_TRUE(SetEvent(event.get()));
  ASSERT_TRUE(ResetEvent(event.get()));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST(EventTest, AutoResetReleasesExactlyOneWaiterPerSignal) {
  ScopedHandle event = NewEvent(/*manual_reset=*/false, /*signaled=*/true);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);

  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event.get(), kLongWait) == WAIT_OBJECT_0) ++released;
    });
  }
  ASSERT_TRUE(BlockedOn(event.get(), 3));
  for (int signal = 1; signal <= 3; ++signal) {
    ASSERT_TRUE(SetEvent(event.get()));
    // The signal completes the wait it satisfies before SetEvent returns: exactly one.
    EXPECT_EQ(platform::BlockedWaiterCountForTesting(event.get()), 3u - signal);
    ASSERT_TRUE(Eventually([&] { return released == signal; }));
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(EventTest, RefusesNamesAndHandlesOfOtherKinds) {
  SetLastError(0);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"Global\\name"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

  ScopedHandle semaphore = NewSemaphore(0, 1);
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, semaphore.get()}) {
    SetLastError(0);
    EXPECT_FALSE(SetEvent(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(ResetEvent(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST(SemaphoreTest, CreationChecksCountsAgainstTheMaximum) {
  struct Case {
    LONG initial, maximum;
    bool valid;
  };
  for (const Case& c :
       {Case{0, 1, true}, Case{1, 1, true}, Case{3, 0x7FFFFFFF, true}, Case{0, 0, false},
        Case{0, -1, false}, Case{-1, 1, false}, Case{2, 1, false}}) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.maximum);
    SetLastError(0);
    ScopedHandle semaphore(CreateSemaphoreW(nullptr, c.initial, c.maximum, nullptr));
    EXPECT_EQ(semaphore != nullptr, c.valid);
    if (!c.valid) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
  }
}

TEST(SemaphoreTest, ReleaseReportsPreviousCountAndRefusesToPassTheMaximum) {
  ScopedHandle semaphore = NewSemaphore(1, 3);
  LONG previous = -1;
  ASSERT_TRUE(ReleaseSemaphore(semaphore.get(), 1, &previous));
  EXPECT_EQ(previous, 1);

  SetLastError(0);
  EXPECT_FALSE(ReleaseSemaphore(semaphore.get(), 2, &previous));  // 2 + 2 > 3.
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
  for (LONG count : {0, -1}) {
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore.get(), count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  ASSERT_TRUE(ReleaseSemaphore(semaphore.get(), 1, &previous));  // The failures took nothing.
  EXPECT_EQ(previous, 2);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), WAIT_TIMEOUT);

  ScopedHandle event = NewEvent(true, false);
  SetLastError(0);
  EXPECT_FALSE(ReleaseSemaphore(event.get(), 1, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(WaitTest, WaitAnyReturnsLowestSignalledIndexAndTakesOnlyThatObject) {
  ScopedHandle unsignalled = NewEvent(false, false);
  ScopedHandle first = NewSemaphore(1, 1);
  ScopedHandle second = NewEvent(false, true);
  HANDLE handles[] = {unsignalled.get(), first.get(), second.get()};

  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
}

TEST(WaitTest, RefusesBadArgumentsAndHandles) {
  ScopedHandle event = NewEvent(true, true);
  ScopedHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
  ASSERT_NE(port, nullptr);
  HANDLE stale = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(stale);
  std::vector<HANDLE> too_many(MAXIMUM_WAIT_OBJECTS + 1, event.get());
  HANDLE twice[] = {event.get(), event.get()};

  struct Case {
    const char* name;
    DWORD count;
    const HANDLE* handles;
    BOOL wait_all;
    DWORD error;
  };
  HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, stale, port.get()};
  const Case cases[] = {
      {"count 0", 0, twice, FALSE, ERROR_INVALID_PARAMETER},
      {"too many", MAXIMUM_WAIT_OBJECTS + 1, too_many.data(), FALSE, ERROR_INVALID_PARAMETER},
      {"null array", 1, nullptr, FALSE, ERROR_INVALID_PARAMETER},
      {"same object twice in wait-all", 2, twice, TRUE, ERROR_INVALID_PARAMETER},
      {"null handle", 1, &bad[0], FALSE, ERROR_INVALID_HANDLE},
      {"invalid handle value", 1, &bad[1], FALSE, ERROR_INVALID_HANDLE},
      {"closed handle", 1, &bad[2], FALSE, ERROR_INVALID_HANDLE},
      {"not waitable", 1, &bad[3], FALSE, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.wait_all, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error);
  }
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(stale, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // Duplicates are fine in a wait-any, and so is the full 64.
  EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, too_many.data(), FALSE, 0), WAIT_OBJECT_0);
}

TEST(WaitTest, TimesOutAfterTheGivenTime) {
  ScopedHandle event = NewEvent(true, false);
  HANDLE handles[] = {event.get()};
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
  for (BOOL wait_all : {FALSE, TRUE}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(1, handles, wait_all, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  }
}

TEST(WaitTest, WaitAllHoldsNothingWhileItBlocks) {
  ScopedHandle a = NewSemaphore(1, 1);
  ScopedHandle b = NewSemaphore(0, 1);
  HANDLE both[] = {a.get(), b.get()};

  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(a.get(), 0), WAIT_OBJECT_0);  // The time-out took nothing.
  ASSERT_TRUE(ReleaseSemaphore(a.get(), 1, nullptr));

  DWORD result = WAIT_FAILED;
  std::thread waiter([&] { result = WaitForMultipleObjects(2, both, TRUE, kLongWait); });
  ASSERT_TRUE(BlockedOn(b.get(), 1));
  // A blocked wait-all must have left A free.
  EXPECT_EQ(WaitForSingleObject(a.get(), kLongWait), WAIT_OBJECT_0);
  ASSERT_TRUE(ReleaseSemaphore(b.get(), 1, nullptr));
  // B alone does not satisfy it, and it takes nothing while it waits.
  EXPECT_EQ(platform::BlockedWaiterCountForTesting(b.get()), 1u);
  ASSERT_TRUE(ReleaseSemaphore(a.get(), 1, nullptr));
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a.get(), 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(b.get(), 0), WAIT_TIMEOUT);
}

// The reader/writer lock's exclusive path takes two gates at once while others take one of
// them. Every holder checks that nobody else holds what it took; a wait-all that took one
// gate without the other, or held one while blocking, shows as a double holder, a lost count
// or a time-out.
TEST(WaitTest, WaitAllTakesBothSemaphoresOrNeitherUnderContention) {
  ScopedHandle a = NewSemaphore(1, 1);
  ScopedHandle b = NewSemaphore(1, 1);
  std::atomic<int> holders_a{0}, holders_b{0}, faults{0}, pair_wins{0};
  constexpr int kRounds = 300;

  auto hold = [&](std::atomic<int>& holders) {
    if (holders.fetch_add(1) != 0) ++faults;
  };
  auto release = [&](std::atomic<int>& holders, HANDLE semaphore) {
    holders.fetch_sub(1);
    if (!ReleaseSemaphore(semaphore, 1, nullptr)) ++faults;
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    // Opposite orders, so that taking the gates one after the other would deadlock.
    HANDLE pair[2] = {t == 0 ? a.get() : b.get(), t == 0 ? b.get() : a.get()};
    threads.emplace_back([&, pair0 = pair[0], pair1 = pair[1]] {
      HANDLE handles[] = {pair0, pair1};
      for (int i = 0; i < kRounds; ++i) {
        if (WaitForMultipleObjects(2, handles, TRUE, kLongWait) != WAIT_OBJECT_0) {
          ++faults;
          return;
        }
        hold(holders_a);
        hold(holders_b);
        ++pair_wins;
        std::this_thread::yield();
        release(holders_a, a.get());
        release(holders_b, b.get());
      }
    });
  }
  for (int t = 0; t < 4; ++t) {
    HANDLE single = t % 2 == 0 ? a.get() : b.get();
    std::atomic<int>& holders = t % 2 == 0 ? holders_a : holders_b;
    threads.emplace_back([&, single] {
      for (int i = 0; i < kRounds; ++i) {
        if (WaitForSingleObject(single, kLongWait) != WAIT_OBJECT_0) {
          ++faults;
          return;
        }
        hold(holders);
        std::this_thread::yield();
        release(holders, single);
      }
    });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(faults, 0);
  EXPECT_EQ(pair_wins, 2 * kRounds);
  for (HANDLE gate : {a.get(), b.get()}) {  // Each count is back to exactly one.
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_TIMEOUT);
  }
}

TEST(WaitTest, ClosingTheHandleDuringAWaitLeavesTheWaitRunning) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  DWORD result = WAIT_FAILED;
  std::thread waiter([&] { result = WaitForSingleObject(event, 200); });
  ASSERT_TRUE(BlockedOn(event, 1));
  EXPECT_TRUE(CloseHandle(event));
  waiter.join();
  EXPECT_EQ(result, WAIT_TIMEOUT);
}

// Sleep itself is under test here: the time that passes is what is measured.
TEST(WaitTest, SleepWaitsAtLeastTheGivenTime) {
  auto start = std::chrono::steady_clock::now();
  Sleep(0);
  Sleep(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
