#include "storage/sync/read_write_lock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/string_conversions.h"
#include "tests/common/capturing_log_controller.h"
#include "tests/common/eventually.h"
#include "tests/common/handle_limit.h"

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
    // Held until the reader has either come and gone already (it won the retry after the
    // release) or queued behind this writer.
    EXPECT_TRUE(Eventually(
        [&] { return reader_in.load() || QueuedReaders(lock.state_for_testing()) == 1; }));
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
  // Not a wait for an event: a reader that wrongly enters past the queued writer has time to.
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

// How the lock under test was made: with both gates, or while the handle table had room
// for one gate or none.
struct Gates {
  const char* name;
  size_t spare_handles;  // platform::kNoHandleLimit: no limit
};

class ReadWriteLockGatesTest : public ::testing::TestWithParam<Gates> {
 protected:
  std::unique_ptr<CReadWriteLock> NewLock() {
    std::optional<testing_support::ScopedHandleLimit> limit;
    if (GetParam().spare_handles != platform::kNoHandleLimit)
      limit.emplace(GetParam().spare_handles);
    return std::make_unique<CReadWriteLock>();
  }
};

// Readers check an invariant that writers break and restore inside the lock; any overlap of a
// writer with anyone shows up as a torn pair (and as a data race under ThreadSanitizer). Every
// thread must finish: a lost wake-up would hang one, and the test has a deadline.
TEST_P(ReadWriteLockGatesTest, StressKeepsInvariantsAndLosesNoWakeUp) {
  std::unique_ptr<CReadWriteLock> made = NewLock();
  CReadWriteLock& lock = *made;
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
  EXPECT_EQ(lock.state_for_testing(), 0u);
}

// A lock whose gates could not be made says so once, keeps excluding, and lets a waiter block
// instead of spinning: a spinning waiter would register again and again in the state word.
TEST_P(ReadWriteLockGatesTest, AWaitingWriterBlocksOnceAndEntersAfterTheReader) {
  testing_support::CapturingLogController log;
  std::unique_ptr<CReadWriteLock> lock = NewLock();
  const bool has_gates = GetParam().spare_handles == platform::kNoHandleLimit;
  std::vector<testing_support::LogLine> errors = log.lines(u"assert;");
  if (has_gates) {
    EXPECT_TRUE(errors.empty());
  } else {
    EXPECT_EQ(errors.size(), 1u);
  }
  for (const testing_support::LogLine& error : errors) {
    EXPECT_EQ(error.level, 64u);
    EXPECT_THAT(base::WideToUTF8(error.text),
                testing::MatchesRegex("error @ Storage::CReadWriteLock::CReadWriteLock:[0-9]+ "
                                      "\\(lasterror=8, hr=0x0\\)"));
  }

  ASSERT_TRUE(lock->AcquireShared(INFINITE));
  std::future<bool> timed =
      std::async(std::launch::async, [&] { return lock->AcquireExclusive(20); });
  if (timed.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "a 20 ms acquire did not return";
    std::_Exit(1);  // a spinning thread cannot be joined
  }
  EXPECT_FALSE(timed.get());
  std::atomic<bool> writer_in{false};
  std::thread writer([&] {
    Storage::CExclusiveLockGuard guard(*lock);
    writer_in = true;
  });
  // Not a wait for an event: a writer that enters past the reader, or spins, has time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(writer_in);
  EXPECT_LE(QueuedWriters(lock->state_for_testing()), 1u) << "the waiting writer spins";
  lock->ReleaseShared();
  writer.join();
  EXPECT_TRUE(writer_in);
  EXPECT_EQ(lock->state_for_testing(), 0u);
  EXPECT_TRUE(lock->AcquireExclusive(0));
  lock->ReleaseExclusive();
}

INSTANTIATE_TEST_SUITE_P(Gates, ReadWriteLockGatesTest,
                         ::testing::Values(Gates{"Both", platform::kNoHandleLimit},
                                           Gates{"OneOfTwo", 1}, Gates{"None", 0}),
                         [](const ::testing::TestParamInfo<Gates>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
