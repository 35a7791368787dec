#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "base/byte_lock.h"
#include "base/lock.h"
#include "base/ref_counted.h"
#include "base/time.h"

namespace {

// The analysis does not know re-entrant locks; re-entering is what this checks.
void EnterTwice(base::CLock& lock) NO_THREAD_SAFETY_ANALYSIS {
  base::CAutoLock outer(lock);
  base::CAutoLock inner(lock);  // the holder may enter again
}

TEST(LockTest, ReentrantForItsOwnerAndExclusiveAcrossThreads) {
  base::CLock lock;
  EnterTwice(lock);
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        base::CAutoLock guard(lock);
        ++counter;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(LockTest, ByteLockExcludesAcrossThreads) {
  base::CByteLock lock;
  // More threads than cores, so that holders are descheduled and waiters have to sleep.
  constexpr int kThreads = 6;
  constexpr int kRounds = 100000;
  int counter = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < kRounds; ++i) {
        base::CByteAutoLock guard(lock);
        if (inside.fetch_add(1, std::memory_order_relaxed) != 0) overlapped = true;
        const int seen = counter;
        inside.fetch_sub(1, std::memory_order_relaxed);
        counter = seen + 1;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(counter, kThreads * kRounds);
}

class Tracked : public base::CRefCountedThreadSafe<Tracked> {
 public:
  explicit Tracked(int* deleted) : deleted_(deleted) {}
  ~Tracked() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST(RefCountedTest, ReleaseFromOneDeletesFromTwoDoesNot) {
  int deleted = 0;
  Tracked* object = new Tracked(&deleted);
  EXPECT_EQ(object->ref_count_for_testing(), 0);
  EXPECT_EQ(object->AddRef(), 1);
  EXPECT_EQ(object->AddRef(), 2);
  EXPECT_EQ(object->Release(), 1);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(object->Release(), 0);
  EXPECT_EQ(deleted, 1);
}

TEST(RefCountedTest, ConcurrentReferencesDeleteOnce) {
  int deleted = 0;
  base::scoped_refptr<Tracked> object(new Tracked(&deleted));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([copy = object] {
      for (int i = 0; i < 10000; ++i) base::scoped_refptr<Tracked> local(copy);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(deleted, 0);
  object.reset();
  EXPECT_EQ(deleted, 1);
}

class Single : public base::CRefCounted<Single> {
 public:
  explicit Single(bool* deleted) : deleted_(deleted) {}
  ~Single() override { *deleted_ = true; }

 private:
  bool* deleted_;
};

TEST(RefCountedTest, SingleThreadedCounterpart) {
  bool deleted = false;
  base::scoped_refptr<Single> a(new Single(&deleted));
  base::scoped_refptr<Single> b = a;
  a.reset();
  EXPECT_FALSE(deleted);
  b.reset();
  EXPECT_TRUE(deleted);
}

TEST(TimeTest, MonotonicAndWallClocks) {
  int64_t previous = base::MonotonicMicroseconds();
  for (int i = 0; i < 1000; ++i) {
    int64_t now = base::MonotonicMicroseconds();
    ASSERT_GE(now, previous);
    previous = now;
  }
  // The time that passes is what the clock must show.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(base::MonotonicMicroseconds() - previous, 19000);

  // Microseconds since 1601 agree with the system clock.
  int64_t unix_micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  int64_t expected = unix_micros + 11644473600LL * 1000000;
  EXPECT_LT(std::llabs(base::Now() - expected), 2000000);
  int64_t a = base::Now();
  int64_t b = base::Now();
  EXPECT_GE(b, a);
}

}  // namespace
