// Storage::CKeyValueStorageExFullCacheBase: a key-value-ex storage held whole in memory, a
// sorted map of text value objects guarded by a reader/writer lock.
//
// Thread safety: readers (GetCount, GetValue, HasKey, CopyAll, GetKeys, GetValues) share the
// lock, writers (SetValue, RemoveValue, Clear, PutImportedValue) hold it alone. Set, remove and
// clear report their change to the synchroniser while they hold the lock, so the lock order
// is: import gate (no lock held), the cache's lock, then the synchroniser's change-list lock.
// The stored objects are shared with callers, who may change them from any thread.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "storage/sync/read_write_lock.h"

namespace Storage {

class CKeyValueStorageExFullCacheBase : public CKeyValueStorageExCacheBase {
 public:
  // Builds the empty map, then the synchroniser for `config` (borrowed for the call) with the
  // configuration's name, which may import the file before this returns.
  CKeyValueStorageExFullCacheBase(CStorageConfigBase* config, CStorageSyncManager* sync_manager,
                                  CStorageSyncTimer* sync_timer);

  ULONG GetCount() override;
  ATL::CComPtr<ITextValue> GetValue(const std::u16string& key) override;
  bool SetValue(const std::u16string& key, ITextValue* value) override;
  bool RemoveValue(const std::u16string& key) override;
  void Clear() override;
  bool HasKey(const std::u16string& key) override;
  void PutImportedValue(const std::u16string& key, ITextValue* value) override;
  void CopyAll(KeyValueExMap* map) override;
  void GetKeys(std::vector<std::u16string>* keys) override;
  void GetValues(std::vector<ATL::CComPtr<ITextValue>>* values) override;
  int IsImportFailed() override;
  int IsImportFinished() override;
  int GetWriteMode() override { return write_mode_; }

 protected:
  // A cache without a synchroniser; a derived class (a test's) may give it one with
  // SetSynchroniser.
  explicit CKeyValueStorageExFullCacheBase(int write_mode);
  // Writes a last time through the synchroniser while the map is still here.
  ~CKeyValueStorageExFullCacheBase() override;

 private:
  // The import gate: returns once the synchroniser's import has finished.
  void AwaitImport();

  CReadWriteLock lock_;
  KeyValueExMap map_ GUARDED_BY(lock_);  // shared for reading, exclusive for writing
  // Set before the synchroniser is built: its file writer is made with this mode.
  const int write_mode_;
  std::atomic<int> import_awaited_{0};
};

}  // namespace Storage
