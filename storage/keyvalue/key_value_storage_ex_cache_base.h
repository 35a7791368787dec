// Storage::CKeyValueStorageExCacheBase: the in-memory model of a key-value-ex storage, as its
// COM object and its synchroniser see it. CKeyValueStorageExFullCacheBase implements it.
//
// Keys are ordered as in the key-value cache (UTF-16 code units as unsigned numbers). Values
// are text values (ITextValue) stored by reference: the cache keeps the object it is given,
// which the caller may go on using and changing.
//
// Import gate: every operation but PutImportedValue and IsImportFinished first waits, without
// time-out, until the synchroniser's import has finished, before it takes the cache's lock.
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

// Key -> stored object, in the cache's key order.
using KeyValueExMap = std::map<std::u16string, ATL::CComPtr<ITextValue>>;

class CKeyValueStorageExCacheBase : public CStorageInMemStructure {
 public:
  // The cache for `config` (borrowed for the call): a full cache when its cache kind is 1, with
  // the synchroniser CStorageSyncBase::create picks for it and the configuration's name, imported
  // when `config` asks for an import on create. Null for any other cache kind or a null
  // `config`.
  static base::scoped_refptr<CKeyValueStorageExCacheBase> create(CStorageConfigBase* config,
                                                                 CStorageSyncManager* sync_manager,
                                                                 CStorageSyncTimer* sync_timer);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2). Any thread.

  virtual ULONG GetCount() = 0;  // slot 3
  // Slot 4. The stored object with a reference for the caller, or null when `key` is absent.
  virtual ATL::CComPtr<ITextValue> GetValue(const std::u16string& key) = 0;
  // Slot 5. Stores `value` itself and records the change, every time (false only for a null
  // `value`).
  virtual bool SetValue(const std::u16string& key, ITextValue* value) = 0;
  // Slot 6. True when `key` was present and is now removed.
  virtual bool RemoveValue(const std::u16string& key) = 0;
  virtual void Clear() = 0;                            // slot 7
  virtual bool HasKey(const std::u16string& key) = 0;  // slot 8
  // Slot 9. Stores `value` itself (may be null) and records nothing; for importers, which run
  // while the gate is still closed.
  virtual void PutImportedValue(const std::u16string& key, ITextValue* value) = 0;
  // Slot 10. Sets (*map)[key] to each stored object (shared, not copied).
  virtual void CopyAll(KeyValueExMap* map) = 0;
  // Slot 11. Appends every key to *keys.
  virtual void GetKeys(std::vector<std::u16string>* keys) = 0;
  // Slot 12. Appends every stored object (a reference each) to *values, in key order.
  virtual void GetValues(std::vector<ATL::CComPtr<ITextValue>>* values) = 0;
  // Slot 13. The synchroniser's import-failed flag once the import has finished; 0 without a
  // synchroniser.
  virtual int IsImportFailed() = 0;
  // Slot 14. Whether the import has finished, without waiting.
  virtual int IsImportFinished() = 0;
  // Slot 15. The file writer's mode from the configuration.
  virtual int GetWriteMode() = 0;

 protected:
  CKeyValueStorageExCacheBase() = default;
  ~CKeyValueStorageExCacheBase() override = default;
};

}  // namespace Storage
