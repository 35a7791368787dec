#include "storage/keyvalue/read_write_lock.h"
#include "tests/common/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// These tests drive the lock's protocol by hand (timed acquires, releases without a holder),
// which the thread-safety analysis rightly rejects in real code.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wthread-safety-analysis"
#endif

namespace {

using Storage::CReadWriteLock;
using testing_support::Eventually;

constexpr uint32_t kWriterBit = 1u << 22;
constexpr uint32_t kWriterPendingBit = 1u << 31;
uint32_t ActiveReaders(uint32_t s) { return s & 0x7FF; }
uint32_t QueuedReaders(uint32_t s) { return (s >> 11) & 0x7FF; }
uint32_t QueuedWriters(uint32_t s) { return (s >> 24) & 0x7F; }

TEST(ReadWriteLockTest, UncontendedUseOnlyChangesTheStateWord) {
  CReadWriteLock lock;
  ASSERT_TRUE(lock.AcquireShared(0));
  ASSERT_TRUE(lock.AcquireShared(0));
  EXPECT_EQ(lock.state_for_testing(), 2u);
  lock.ReleaseShared();
  lock.ReleaseShared();
  EXPECT_EQ(lock.state_for_testing(), 0u);
  ASSERT_TRUE(lock.AcquireExclusive(0));
  EXPECT_EQ(lock.state_for_testing(), kWriterBit);
  lock.ReleaseExclusive();
  EXPECT_EQ(lock.state_for_testing(), 0u);
  // A release without a holder changes nothing.
  lock.ReleaseShared();
  lock.ReleaseExclusive();
  EXPECT_EQ(lock.state_for_testing(), 0u);
}

TEST(ReadWriteLockTest, TimeOutsUndoTheirRegistration) {
  CReadWriteLock lock;
  ASSERT_TRUE(lock.AcquireShared(INFINITE));
  EXPECT_FALSE(lock.AcquireExclusive(20));
  EXPECT_EQ(lock.state_for_testing(), 1u) << "no queued writer and no pending bit left";
  lock.ReleaseShared();

  ASSERT_TRUE(lock.AcquireExclusive(INFINITE));
  EXPECT_FALSE(lock.AcquireShared(20));
  EXPECT_FALSE(lock.AcquireExclusive(20));
  EXPECT_EQ(lock.state_for_testing(), kWriterBit);
  lock.ReleaseExclusive();
  EXPECT_TRUE(lock.AcquireShared(0));
  lock.ReleaseShared();
}

TEST(ReadWriteLockTest, ReadersHoldTogether) {
  CReadWriteLock lock;
  std::atomic<int> inside{0};
  std::atomic<bool> both_seen{false};
  auto reader = [&] {
    Storage::CSharedLockGuard guard(lock);
    ++inside;
    both_seen = Eventually([&] { return inside.load() == 2; }) || both_seen.load();
  };
  std::thread a(reader), b(reader);
  a.join();
  b.join();
  EXPECT_TRUE(both_seen);
}

TEST(ReadWriteLockTest, QueuedWriterHoldsBackNewReaders) {
  CReadWriteLock lock;
  ASSERT_TRUE(lock.AcquireShared(INFINITE));

  std::atomic<bool> writer_in{false}, reader_in{false}, reader_saw_writer_done{false};
  std::thread writer([&] {
    Storage::CExclusiveLockGuard guard(lock);
    writer_in = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writer_in = false;
  });
  ASSERT_TRUE(Eventually([&] { return (lock.state_for_testing() & kWriterPendingBit) != 0; }));
  EXPECT_EQ(QueuedWriters(lock.state_for_testing()), 1u);

  std::thread reader([&] {
    Storage::CSharedLockGuard guard(lock);
    reader_in = true;
    reader_saw_writer_done = !writer_in.load();
  });
  ASSERT_TRUE(Eventually([&] { return QueuedReaders(lock.state_for_testing()) == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(reader_in) << "a reader entered past a queued writer";
  EXPECT_FALSE(writer_in);

  lock.ReleaseShared();
  writer.join();
  reader.join();
  EXPECT_TRUE(reader_in);
  EXPECT_TRUE(reader_saw_writer_done);
  EXPECT_EQ(lock.state_for_testing(), 0u);
}

// Readers check an invariant that writers break and restore inside the lock; any overlap of a
// writer with anyone shows up as a torn pair (and as a data race under ThreadSanitizer). Every
// thread must finish: a lost wake-up would hang one, and the test has a deadline.
TEST(ReadWriteLockTest, StressKeepsInvariantsAndLosesNoWakeUp) {
  CReadWriteLock lock;
  int64_t first = 0, second = 0;
  std::atomic<int> torn{0};
  std::atomic<int> finished{0};
  constexpr int kWriters = 3, kReaders = 5, kRounds = 3000;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        Storage::CExclusiveLockGuard guard(lock);
        ++first;
        if (i % 64 == 0) std::this_thread::yield();
        ++second;
      }
      ++finished;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        Storage::CSharedLockGuard guard(lock);
        if (first != second) ++torn;
      }
      ++finished;
    });
  }
  bool all_done = Eventually([&] { return finished.load() == kWriters + kReaders; });
  if (!all_done) {
    ADD_FAILURE() << "threads stuck; state " << std::hex << lock.state_for_testing();
    std::_Exit(1);  // stuck threads cannot be joined
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(first, int64_t{kWriters} * kRounds);
  EXPECT_EQ(second, first);
  EXPECT_EQ(ActiveReaders(lock.state_for_testing()), 0u);
  EXPECT_EQ(lock.state_for_testing() & (kWriterBit | kWriterPendingBit), 0u);
}

}  // namespace
