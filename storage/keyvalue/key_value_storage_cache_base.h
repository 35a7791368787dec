// Storage::CKeyValueStorageCacheBase: the in-memory model of a key-value storage, as its COM
// object and its synchroniser see it. CKeyValueStorageFullCacheBase implements it.
//
// Keys are UTF-16 strings without NUL characters, ordered by their code units as unsigned
// 16-bit numbers (a prefix before every longer string that starts with it): every enumeration
// yields that order. Values are value objects (IValueObject) that the cache owns; they are
// shared, never changed, with the snapshots taken for syncing.
//
// Import gate: every operation but PutImportedValue(s) and IsImportFinished first waits, without
// time-out, until the synchroniser's import has finished. It waits before it takes the cache's
// lock, so the import, which stores through PutImportedValue(s), can proceed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/types.h"
#include "browserstorage/shared_objects.h"
#include "storage/sync/storage_in_mem_structure.h"

namespace Storage {

class CStorageConfigBase;
class CStorageSyncManager;
class CStorageSyncTimer;

// Key -> value, in the cache's key order (std::u16string compares char16_t, an unsigned type,
// unit by unit).
using KeyValueMap = std::map<std::u16string, ATL::CComPtr<IValueObject>>;

class CKeyValueStorageCacheBase : public CStorageInMemStructure {
 public:
  // The cache for `config` (borrowed for the call): a full cache when its cache kind is 1, with
  // the synchroniser CStorageSyncBase::create picks for it, imported when `config` asks for an
  // import on create. Null for any other cache kind or a null `config`. `sync_manager` and
  // `sync_timer` may be null (no background sync); see CStorageSyncBase::create for what the
  // synchroniser keeps of them.
  static base::scoped_refptr<CKeyValueStorageCacheBase> create(CStorageConfigBase* config,
                                                               CStorageSyncManager* sync_manager,
                                                               CStorageSyncTimer* sync_timer);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2). Any thread.

  virtual ULONG GetCount() = 0;  // slot 3
  // Slot 4. The stored object with a reference for the caller, or null when `key` is absent.
  virtual ATL::CComPtr<IValueObject> GetValue(const std::u16string& key) = 0;
  // Slot 5. Stores a copy of `value` (false only for a null `value`). A value equal to the
  // stored one changes nothing and records nothing; so does a copy that cannot be made.
  virtual bool SetValue(const std::u16string& key, IValueObject* value) = 0;
  // Slot 6. True when `key` was present and is now removed.
  virtual bool RemoveValue(const std::u16string& key) = 0;
  virtual void Clear() = 0;                            // slot 7
  virtual bool HasKey(const std::u16string& key) = 0;  // slot 8
  // Slot 9. Stores `value` itself (may be null) and records nothing; for importers, which run
  // while the gate is still closed.
  virtual void PutImportedValue(const std::u16string& key, IValueObject* value) = 0;
  // Slot 10. Sets (*map)[key] to each stored object (shared, not copied).
  virtual void CopyAll(KeyValueMap* map) = 0;
  // Slot 11. Appends every key to *keys.
  virtual void GetKeys(std::vector<std::u16string>* keys) = 0;
  // Slot 12. The synchroniser's import-failed flag once the import has finished; 0 without a
  // synchroniser.
  virtual int IsImportFailed() = 0;
  // Slot 13. Whether the import has finished, without waiting.
  virtual int IsImportFinished() = 0;
  // Slot 14. The file writer's mode from the configuration.
  virtual int GetWriteMode() = 0;
  // Slot 15, after the slots above so that theirs stay where they are. Stores every pair of
  // `values` as PutImportedValue does, under one hold of the lock, and records nothing: for
  // importers that build the whole map first. An empty cache takes the map itself, no key or
  // node copied; otherwise each imported pair replaces the stored one. Leaves `values` empty.
  virtual void PutImportedValues(KeyValueMap&& values) = 0;

 protected:
  CKeyValueStorageCacheBase() = default;
  ~CKeyValueStorageCacheBase() override = default;
};

}  // namespace Storage
