// Changes reaching the disk in the background: a recorded change starts one periodic timer, a
// tick posts performSync to the service's sync thread, an idle tick stops the timer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "browserplatform/process.h"
#include "storage/sync/storage_sync_base.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/eventually.h"

namespace {

using testing_support::Eventually;

// A synchroniser with a short period that counts what its syncs take, on which thread.
class ShortPeriodSynchroniser : public Storage::CStorageSyncBase {
 public:
  ShortPeriodSynchroniser(Storage::CStorageSyncManager* manager, Storage::CStorageSyncTimer* timer,
                          DWORD period_ms = 20)
      : CStorageSyncBase(manager, timer, 1, nullptr), period_ms_(period_ms) {}

  void performImport() override {
    RecordThread();
    ++imports;
    SetImported();
  }
  void performSync() override {
    RecordThread();
    size_t taken = TakePendingChanges().size();
    // Counted before the timer stops: a test that sees the timer gone sees this sync too.
    ++syncs;
    changes_written += static_cast<int>(taken);
    if (taken == 0) StopTimer();
  }
  int SyncNow() override {
    PostSyncToManager();
    return 0;
  }
  DWORD GetSyncInterval() override { return period_ms_; }

  std::set<DWORD> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

  std::atomic<int> imports{0};
  std::atomic<int> syncs{0};
  std::atomic<int> changes_written{0};

 private:
  void RecordThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.insert(GetCurrentThreadId());
  }

  const DWORD period_ms_;
  std::mutex mutex_;
  std::set<DWORD> threads_;
};

class SyncSchedulingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    timer_->Uninit();
    manager_->StopThread();
  }

  base::scoped_refptr<Storage::CStorageSyncManager> manager_{new Storage::CStorageSyncManager};
  base::scoped_refptr<Storage::CStorageSyncTimer> timer_{new Storage::CStorageSyncTimer};
};

TEST_F(SyncSchedulingTest, BurstMakesOneTimerAndAnIdleTickStopsIt) {
  // A period long enough that the burst always ends before the first tick, even on a busy
  // machine.
  base::scoped_refptr<ShortPeriodSynchroniser> sync(
      new ShortPeriodSynchroniser(manager_.get(), timer_.get(), 200));
  sync->RecordSet(u"k0", nullptr, 0);
  HANDLE first_timer = sync->timer_for_testing();
  ASSERT_NE(first_timer, nullptr);
  for (int i = 1; i < 10; ++i) {
    sync->RecordSet(u"k", nullptr, 0);
    EXPECT_EQ(sync->timer_for_testing(), first_timer) << "a burst must not start a new timer";
  }
  // One tick writes the ten changes, the next finds nothing and stops the timer.
  ASSERT_TRUE(Eventually([&] { return sync->timer_for_testing() == nullptr; }));
  EXPECT_EQ(sync->changes_written.load(), 10);
  int syncs = sync->syncs.load();
  EXPECT_GE(syncs, 2);
  // Not a wait for an event: a tick that wrongly comes has time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sync->syncs.load(), syncs) << "a stopped timer ticks no more";

  // The next change starts it again.
  sync->RecordRemove(u"k", 0);
  EXPECT_NE(sync->timer_for_testing(), nullptr);
  ASSERT_TRUE(Eventually([&] { return sync->timer_for_testing() == nullptr; }));
  EXPECT_EQ(sync->changes_written.load(), 11);
}

TEST_F(SyncSchedulingTest, PostedWorkRunsOnOneThreadInPostingOrder) {
  base::scoped_refptr<ShortPeriodSynchroniser> sync(
      new ShortPeriodSynchroniser(manager_.get(), nullptr));
  ASSERT_TRUE(manager_->PostImport(sync.get()));
  sync->RecordSet(u"now", nullptr, /*sync_now=*/1);
  ASSERT_TRUE(Eventually([&] { return sync->syncs.load() >= 1; }));
  EXPECT_EQ(sync->imports.load(), 1);
  EXPECT_EQ(sync->changes_written.load(), 1);
  std::set<DWORD> threads = sync->threads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), GetCurrentThreadId());

  // After the thread stopped, a post fails: its task is destroyed at once, unrun, and gives
  // the synchroniser back.
  EXPECT_TRUE(manager_->StopThread());
  EXPECT_FALSE(manager_->PostSync(sync.get()));
  EXPECT_FALSE(manager_->PostImport(sync.get()));
  EXPECT_EQ(sync->syncs.load(), 1);
  EXPECT_EQ(sync->imports.load(), 1);
  EXPECT_EQ(sync->ref_count_for_testing(), 1);
}

TEST_F(SyncSchedulingTest, StoppingEverythingWhileTimersFireNeverDeadlocks) {
  for (int round = 0; round < 20; ++round) {
    base::scoped_refptr<Storage::CStorageSyncManager> manager(new Storage::CStorageSyncManager);
    base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
    std::vector<base::scoped_refptr<ShortPeriodSynchroniser>> syncs;
    for (int i = 0; i < 4; ++i) {
      syncs.emplace_back(new ShortPeriodSynchroniser(manager.get(), timer.get()));
      syncs.back()->RecordSet(u"k", nullptr, i % 2);
    }
    // Not a wait: the stop lands at a different point of the timers' life each round.
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 * 10));
    // The order of UnInitialize: timers, then the thread, then the final syncs.
    timer->Uninit();
    manager->StopThread();
    for (auto& sync : syncs) {
      int before = sync->syncs.load();
      sync->scheduleFinalSync();
      EXPECT_EQ(sync->syncs.load(), before + 1);
      EXPECT_EQ(sync->pending_changes_for_testing().size(), 0u);
    }
    for (auto& sync : syncs) EXPECT_EQ(sync->ref_count_for_testing(), 1) << "a task kept it";
  }
}

}  // namespace
