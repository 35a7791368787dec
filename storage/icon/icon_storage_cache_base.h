// Storage::CIconStorageCacheBase: the in-memory icons of an icon storage, as its COM object and
// its synchroniser see them. CIconStorageLimitMemoryCacheBase implements it: icons within a
// memory budget, the least recently used going first.
//
// Keys are ordered and matched in the user's collation (VarBstrCmp with LOCALE_USER_DEFAULT and
// no flags): keys that collate equal name the same icon. Every enumeration yields that order.
//
// Import gate: every operation but PutImportedValue, IsImportFinished and GetMemoryLimit first
// waits, without time-out and before taking any lock, until the synchroniser's import has
// finished.
//
// Thread safety: any thread. Readers run in parallel, writers one at a time; the synchroniser's
// record calls are made with the cache's lock held.
#pragma once

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

// One icon of a snapshot: the key it is stored under and the stored object (shared).
struct IconEntry {
  std::u16string key;
  ATL::CComPtr<IIconObject> icon;
};

class CIconStorageCacheBase : public CStorageInMemStructure {
 public:
  // The cache for `config` (borrowed for the call): a memory-limited cache when its cache kind
  // is 2, with the synchroniser CStorageSyncBase::create picks for it. Null for any other cache
  // kind or a null `config`. `sync_manager` and `sync_timer` may be null.
  static base::scoped_refptr<CIconStorageCacheBase> create(CStorageConfigBase* config,
                                                           CStorageSyncManager* sync_manager,
                                                           CStorageSyncTimer* sync_timer);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2).

  // Slot 3. The number of icons. E_FAIL for a null out.
  virtual HRESULT GetCount(ULONG* count) = 0;
  // Slot 4. The icon stored under `key` with a reference for the caller, or null (S_OK) when
  // there is none; reading marks it used. E_FAIL for an empty key or a null out.
  virtual HRESULT GetValue(const std::u16string& key, IIconObject** icon) = 0;
  // Slot 5. Stores `icon` itself under `key`, marks it used, evicts what no longer fits and
  // records the change. E_FAIL for a null icon.
  virtual HRESULT SetValue(const std::u16string& key, IIconObject* icon) = 0;
  // Slot 6. Removes `key` (recording it) when present. S_OK either way.
  virtual HRESULT RemoveValue(const std::u16string& key) = 0;
  // Slot 7. Removes every icon and records a clear. S_OK.
  virtual HRESULT Clear() = 0;
  // Slot 8. *exists = 1 when `key` is stored, else 0. E_FAIL for a null out.
  virtual HRESULT HasKey(const std::u16string& key, BOOL* exists) = 0;
  // Slot 9. For the importer: stores `icon` under `key` as never read (a stored one keeps its
  // mark), without record or eviction. S_OK.
  virtual HRESULT PutImportedValue(const std::u16string& key, IIconObject* icon) = 0;
  // Slot 10. Appends every icon, in key order, to *entries (objects shared, not copied). S_OK.
  virtual HRESULT CopyAll(std::vector<IconEntry>* entries) = 0;
  // Slot 11. Appends every key, in key order. S_OK.
  virtual HRESULT GetKeys(std::vector<std::u16string>* keys) = 0;
  // Slot 12. The synchroniser's import-failed flag; 0 without a synchroniser.
  virtual int IsImportFailed() = 0;
  // Slot 13. Whether the import has finished (no wait).
  virtual int IsImportFinished() = 0;
  // Slot 14. The memory budget in bytes (0 or less: no eviction).
  virtual int GetMemoryLimit() = 0;

 protected:
  CIconStorageCacheBase() = default;
  ~CIconStorageCacheBase() override = default;
};

}  // namespace Storage
