#include "storage/sync/storage_sync_timer.h"
#include "tests/common/eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using testing_support::Eventually;

void CountTick(void* context, BOOLEAN) { ++*static_cast<std::atomic<int>*>(context); }

TEST(StorageSyncTimerTest, PeriodicTimerTicksUntilDeleted) {
  base::scoped_refptr<Storage::CStorageSyncTimer> timer(new Storage::CStorageSyncTimer);
  std::atomic<int> ticks{0};
  HANDLE handle = timer->CreateTimer(&CountTick, &ticks, 5);
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(Eventually([&] { return ticks.load() >= 3; }));
  timer->DeleteTimer(handle);
  int after_delete = ticks.load();
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
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), after_uninit);
}

}  // namespace
