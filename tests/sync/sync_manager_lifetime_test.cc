// A host may release the storage service without UnInitialize while it still holds a storage.
// The storage's synchroniser then keeps the sync manager and timer alive; its syncs go on, and
// when the last synchroniser goes the sync thread ends, even when that happens on the sync
// thread itself.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "base/kernel_event.h"
#include "browserplatform/process.h"
#include "storage/sync/storage_sync_base.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"
#include "tests/common/eventually.h"

namespace {

using testing_support::Eventually;

bool ThreadRuns(DWORD id) {
  return std::filesystem::exists("/proc/self/task/" + std::to_string(id));
}

// Counts its syncs and remembers the sync thread; a sync can be held at its start.
class HoldingSynchroniser : public Storage::CStorageSyncBase {
 public:
  HoldingSynchroniser(Storage::CStorageSyncManager* manager, Storage::CStorageSyncTimer* timer)
      : CStorageSyncBase(manager, timer, 1, nullptr) {
    entered_.Create(TRUE, FALSE);
    release_.Create(TRUE, FALSE);
  }

  void performSync() override {
    sync_thread = GetCurrentThreadId();
    if (hold_.exchange(false)) {
      entered_.Set();
      release_.Wait(INFINITE);
    }
    if (TakePendingChanges().empty()) StopTimer();
    ++syncs;
  }
  int SyncNow() override {
    PostSyncToManager();
    return 0;
  }
  DWORD GetSyncInterval() override { return 10; }

  void HoldNextSync() { hold_ = true; }
  void AwaitSyncEntered() { entered_.Wait(INFINITE); }
  void ReleaseSync() { release_.Set(); }

  std::atomic<int> syncs{0};
  std::atomic<DWORD> sync_thread{0};

 private:
  std::atomic<bool> hold_{false};
  base::CKernelEvent entered_;
  base::CKernelEvent release_;
};

// What a released service leaves behind: the synchroniser's references only.
base::scoped_refptr<HoldingSynchroniser> SynchroniserOfAReleasedService() {
  base::scoped_refptr<Storage::CStorageSyncManager> manager(new Storage::CStorageSyncManager);
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
  return base::scoped_refptr<HoldingSynchroniser>(
      new HoldingSynchroniser(manager.get(), timer.get()));
}

TEST(SyncManagerLifetimeTest, SyncsGoOnAfterTheServiceLetGoAndTheLastReleaseEndsTheThread) {
  base::scoped_refptr<HoldingSynchroniser> sync = SynchroniserOfAReleasedService();
  sync->RecordSet(u"k", nullptr, 0);
  ASSERT_TRUE(Eventually([&] { return sync->syncs.load() >= 1; }));  // the timer's tick
  sync->RecordSet(u"k", nullptr, 1);                                 // and a sync-now
  ASSERT_TRUE(Eventually([&] { return sync->timer_for_testing() == nullptr; }));
  const DWORD thread = sync->sync_thread.load();
  ASSERT_TRUE(ThreadRuns(thread));
  sync = nullptr;  // joins the sync thread here
  EXPECT_TRUE(Eventually([&] { return !ThreadRuns(thread); }));
}

TEST(SyncManagerLifetimeTest, TheLastReleaseOnTheSyncThreadStillEndsIt) {
  base::scoped_refptr<HoldingSynchroniser> sync = SynchroniserOfAReleasedService();
  sync->HoldNextSync();
  sync->SyncNow();
  sync->AwaitSyncEntered();
  const DWORD thread = sync->sync_thread.load();
  HoldingSynchroniser* raw = sync.get();
  sync = nullptr;  // the running task holds the last reference now
  raw->ReleaseSync();
  // The task ends, the synchroniser and the manager go on the sync thread, which cannot join
  // itself; it must end all the same.
  EXPECT_TRUE(Eventually([&] { return !ThreadRuns(thread); }));
}

}  // namespace
