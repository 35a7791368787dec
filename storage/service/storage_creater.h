// Storage::CStorageCreater: turns storage identifiers into live storages. It keeps the fixed
// registry of storages and the cache of storages already created, so that every request for
// an identifier returns the same object until ReleaseAllStorages.
//
// Thread safety: none of its own. Every call comes from the storage service with the service
// lock held, which serialises them.
#pragma once

#include <map>
#include <string>

#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/storage_service.h"
#include "storage/service/storage_registry_entry.h"
#include "storage/sync/storage_base.h"
#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"

namespace Storage {

class CStorageCreater : public base::CRefCountedThreadSafe<CStorageCreater> {
 public:
  CStorageCreater() = default;

  // The user's data folder (ending in a separator when it names one); file names of the
  // registry and of callers' overrides are appended to it as they stand.
  void SetBasePath(std::u16string base_path) { base_path_ = std::move(base_path); }
  const std::u16string& GetBasePath() const { return base_path_; }

  // The service's sync thread and timer queue, handed to every storage created from now on
  // (either may be null: no background import or periodic sync, only the final one).
  void SetSyncObjects(CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer) {
    sync_manager_ = sync_manager;
    sync_timer_ = sync_timer;
  }

  // Copies every row of kStorageRegistry into the registry, keyed by identifier. Always true.
  bool LoadStorageRegistry();

  // The configuration a request for `id` resolves to: the registry row's values, the file path
  // = base path + the row's file name, then `config`'s non-empty file name (replacing the row's)
  // and non-empty name string. Null for an identifier that is not registered (or null).
  // Throws E_OUTOFMEMORY when `config`'s strings cannot be copied.
  base::scoped_refptr<CStorageConfigBase> ResolveConfig(LPCWSTR id, IStorageConfig* config) const;

  // Virtual slots after the destructor, AddRef and Release (under the Itanium ABI the
  // destructor takes two entries, so these are entries 4 and 5).

  // Slot 3. The cached storage for `id` (config ignored) or a new one from CreateStorage, in
  // *out with one reference for the caller, S_OK. On failure *out is null (when `out` is not)
  // and the code is CreateStorage's; E_POINTER for a cached storage and a null `out`.
  virtual HRESULT GetStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out);
  // Slot 4. A storage of `type` that is neither registered nor cached, with the caller's only
  // reference. E_FAIL for a null `out` and for every type without a file-less form.
  virtual HRESULT CreateTempStorage(int type, IUnknown** out);

  // Builds the storage for a registered `id` that is not cached yet, caches it, and puts its
  // IUnknown in *out without a reference for the caller. E_FAIL for an identifier that is not
  // registered and for a storage type that cannot be built; E_POINTER for a null `out`;
  // E_STORAGE_INVALIDARG when the row's cache kind does not fit its type.
  HRESULT CreateStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out);

  // Detaches every cached storage from its in-memory structure, in identifier order, and drops
  // the cache's references. The registry is kept.
  void ReleaseAllStorages();

 private:
  // A cached storage: the COM object's identity, which holds the cache's reference, and its
  // CStorageBase face, which lives as long as that reference.
  struct CachedStorage {
    ATL::CComPtr<IUnknown> unknown;
    CStorageBase* storage = nullptr;
  };

  ~CStorageCreater() override = default;

  // Makes the COM object `Object`, attaches `structure` with `config` and fills `created`; on
  // failure the object is gone again and `created` is untouched.
  template <class Object>
  static HRESULT AttachNewObject(CStorageConfigBase* config, CStorageInMemStructure* structure,
                                 CachedStorage* created);

  HRESULT CreateKeyValueStorage(CStorageConfigBase* config, CachedStorage* created);
  HRESULT CreateKeyValueExStorage(CStorageConfigBase* config, CachedStorage* created);
  // `config` null: the temporary storage, with no file.
  HRESULT CreateBookmarkStorage(CStorageConfigBase* config, CachedStorage* created);
  HRESULT CreateIconStorage(CStorageConfigBase* config, CachedStorage* created);
  // Makes the folder of the database file first when it is missing (one level: the data folder
  // exists); a failure is logged and the storage opens empty, its writes failing until the
  // folder can be made.
  HRESULT CreateExtensionStorage(CStorageConfigBase* config, CachedStorage* created);

  std::map<std::u16string, CachedStorage> storages_;
  std::map<std::u16string, StorageRegistryEntry> registry_;
  base::scoped_refptr<CStorageSyncManager> sync_manager_;
  base::scoped_refptr<CStorageSyncTimer> sync_timer_;
  std::u16string base_path_;
};

}  // namespace Storage
