// A synchroniser for tests: it reads and writes nothing, its import finishes when the test calls
// SetImported, and it counts the timer's SyncNow calls. Its sync period is the test's choice.
// ManualCache is a full key-value cache kept by one.
#pragma once

#include <atomic>

#include "storage/keyvalue/key_value_storage_full_cache_base.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace storage_test {

class ManualSynchroniser : public Storage::CStorageSyncBase {
 public:
  explicit ManualSynchroniser(Storage::CStorageSyncTimer* timer = nullptr, DWORD interval_ms = 5000)
      : CStorageSyncBase(nullptr, timer, 1, nullptr), interval_ms_(interval_ms) {}

  // As every concrete synchroniser: take the whole list; an empty one stops the timer.
  void performSync() override {
    if (TakePendingChanges().empty()) StopTimer();
  }
  int SyncNow() override {
    ++sync_now_calls;
    return 0;
  }
  DWORD GetSyncInterval() override { return interval_ms_; }

  using CStorageSyncBase::SetImportFailed;

  std::atomic<int> sync_now_calls{0};

 private:
  const DWORD interval_ms_;
};

class ManualCache : public Storage::CKeyValueStorageFullCacheBase {
 public:
  // `sync` may be null: a cache without a synchroniser.
  explicit ManualCache(Storage::CStorageSyncBase* sync)
      : CKeyValueStorageFullCacheBase(Storage::kWriteModePlain) {
    SetSynchroniser(base::scoped_refptr<Storage::CStorageSyncBase>(sync));
  }
};

}  // namespace storage_test
