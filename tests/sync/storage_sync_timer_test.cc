#include "storage/sync/storage_sync_timer.h"
#include "tests/common/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

namespace {

using testing_support::Eventually;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr DWORD kNeverMs = 3600 * 1000;

void CountTick(void* context, BOOLEAN) { ++*static_cast<std::atomic<int>*>(context); }

TEST(StorageSyncTimerTest, PeriodicTimerTicksUntilDeleted) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
  std::atomic<int> ticks{0};
  HANDLE handle = timer->CreateTimer(&CountTick, &ticks, 5);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(Eventually([&] { return ticks.load() >= 3; }));
  timer->DeleteTimer(handle);
  int after_delete = ticks.load();
  // Not a wait for anything: a tick that wrongly comes after DeleteTimer has time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), after_delete) << "no callback after DeleteTimer returned";
  timer->Uninit();
}

TEST(StorageSyncTimerTest, NothingIsCreatedAfterUninit) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
  std::atomic<int> ticks{0};
  HANDLE handle = timer->CreateTimer(&CountTick, &ticks, 5);
  ASSERT_NE(handle, nullptr);
  timer->Uninit();
  int after_uninit = ticks.load();
  timer->Uninit();  // harmless twice
  EXPECT_EQ(timer->CreateTimer(&CountTick, &ticks, 5), nullptr);
  timer->DeleteTimer(handle);  // the queue is gone: nothing to do, nothing breaks
  // As above: room for a wrongful tick to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), after_uninit);

  // A timer that never had a queue makes none after Uninit either.
  base::scoped_refptr<Storage::CStorageSyncTimer> unused(new Storage::CStorageSyncTimer);
  unused->Uninit();
  EXPECT_EQ(unused->CreateTimer(&CountTick, &ticks, 5), nullptr);
}

// A timer callback that blocks until the test releases it, and says whether it is running.
class BlockingCallback {
 public:
  static void Run(void* context, BOOLEAN) { static_cast<BlockingCallback*>(context)->Block(); }

  bool WaitUntilEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, kPatience, [this] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  bool running() const { return running_.load(); }

 private:
  void Block() {
    std::unique_lock<std::mutex> lock(mutex_);
    running_ = true;
    entered_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return released_; });
    running_ = false;
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool released_ = false;
  std::atomic<bool> running_{false};
};

void Idle(void*, BOOLEAN) {}

// DeleteTimer and Uninit both promise to return only once no callback of what they delete
// runs. They race here with a callback that blocks until released: whichever call returns
// while the callback still runs has broken the promise.
enum class Race {
  kDeleteTimerDuringUninit,  // Uninit has taken the queue and waits for the callback
  kUninitDuringUninit,       // a second Uninit while the first waits
  kDeleteTimerAndUninit,     // both at once, in no particular order
};

class StorageSyncTimerRaceTest : public ::testing::TestWithParam<Race> {};

TEST_P(StorageSyncTimerRaceTest, NoCallbackRunsAfterEitherCallReturns) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
  BlockingCallback callback;
  HANDLE handle = timer->CreateTimer(&BlockingCallback::Run, &callback, 1);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(callback.WaitUntilEntered());

  // Each call notes, as it returns, whether the callback was still running.
  auto call = [&](auto operation) {
    return std::async(std::launch::async, [&callback, operation] {
      operation();
      return callback.running();
    });
  };
  auto uninit = [&] { timer->Uninit(); };
  auto delete_timer = [&] { timer->DeleteTimer(handle); };

  std::future<bool> first = call(uninit);
  if (GetParam() != Race::kDeleteTimerAndUninit) {
    // Uninit has taken the queue once no timer can be made any more.
    ASSERT_TRUE(
        Eventually([&] { return timer->CreateTimer(&Idle, nullptr, kNeverMs) == nullptr; }));
  }
  std::future<bool> second =
      GetParam() == Race::kUninitDuringUninit ? call(uninit) : call(delete_timer);

  // Not a wait for an event: a call that wrongly returns early has this long to do so.
  second.wait_for(std::chrono::milliseconds(200));
  callback.Release();
  for (std::future<bool>* returned : {&first, &second}) {
    if (returned->wait_for(kPatience) != std::future_status::ready) {
      ADD_FAILURE() << "deadlock";
      std::_Exit(1);  // a stuck call cannot be joined
    }
  }
  EXPECT_FALSE(first.get()) << "Uninit returned while a callback ran";
  EXPECT_FALSE(second.get()) << "returned while a callback ran";
}

INSTANTIATE_TEST_SUITE_P(Orders, StorageSyncTimerRaceTest,
                         ::testing::Values(Race::kDeleteTimerDuringUninit,
                                           Race::kUninitDuringUninit, Race::kDeleteTimerAndUninit),
                         [](const ::testing::TestParamInfo<Race>& info) {
                           switch (info.param) {
                             case Race::kDeleteTimerDuringUninit:
                               return "DeleteTimerDuringUninit";
                             case Race::kUninitDuringUninit:
                               return "UninitDuringUninit";
                             default:
                               return "DeleteTimerAndUninit";
                           }
                         });

}  // namespace
