// CStorageSyncBase::create: which synchroniser keeps which kind of storage.
#include <cstdint>
#include <new>

#include "base/trace.h"
#include "browserstorage/storage_service.h"
#include "storage/bookmark/bookmark_storage_sync_db.h"
#include "storage/bookmark/bookmark_storage_sync_file.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/extension/extension_storage_file_sync.h"
#include "storage/extension/extension_storage_model.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/icon/icon_storage_sync_binary.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "storage/keyvalue/key_value_storage_ex_sync_file.h"
#include "storage/keyvalue/key_value_storage_sync_binary.h"
#include "storage/keyvalue/key_value_storage_sync_db.h"
#include "storage/keyvalue/key_value_storage_sync_file.h"
#include "storage/sync/storage_sync_base.h"
#include "storage/sync/storage_sync_manager.h"

namespace Storage {
namespace {

enum class SyncClass {
  kKeyValueDB,
  kKeyValueFile,
  kKeyValueBinary,
  kKeyValueExFile,
  kBookmarkDB,
  kBookmarkFile,
  kExtensionFile,
  kIconBinary,
};

constexpr uint32_t SyncKey(int cache_kind, int sync_kind) {
  return (static_cast<uint32_t>(cache_kind) << 16) | (static_cast<uint32_t>(sync_kind) & 0xFFFFu);
}

struct SyncChoice {
  int storage_type;
  uint32_t key;  // SyncKey(cache kind, sync kind)
  SyncClass sync_class;
};

constexpr SyncChoice kSyncTable[] = {
    {kStorageTypeKeyValue, SyncKey(1, 1), SyncClass::kKeyValueDB},
    {kStorageTypeKeyValue, SyncKey(1, 2), SyncClass::kKeyValueFile},
    {kStorageTypeKeyValue, SyncKey(1, 3), SyncClass::kKeyValueBinary},
    {kStorageTypeKeyValueEx, SyncKey(1, 2), SyncClass::kKeyValueExFile},
    {kStorageTypeBookmarkTree, SyncKey(1, 1), SyncClass::kBookmarkDB},
    {kStorageTypeBookmarkTree, SyncKey(1, 2), SyncClass::kBookmarkFile},
    {kStorageTypeExtension, SyncKey(1, 2), SyncClass::kExtensionFile},
    {kStorageTypeIcon, SyncKey(2, 3), SyncClass::kIconBinary},
};

const SyncChoice* FindChoice(int storage_type, int sync_kind, int cache_kind) {
  const uint32_t key = SyncKey(cache_kind, sync_kind);
  for (const SyncChoice& choice : kSyncTable) {
    if (choice.storage_type == storage_type && choice.key == key) return &choice;
  }
  return nullptr;
}

// Null when the owner is not the structure the class keeps, or allocation fails.
base::scoped_refptr<CStorageSyncBase> NewSynchroniser(
    SyncClass sync_class, const char16_t* file_path, CStorageInMemStructure* owner,
    CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer, BSTR name, int write_mode) {
  switch (sync_class) {
    case SyncClass::kKeyValueDB: {
      auto* cache = dynamic_cast<CKeyValueStorageCacheBase*>(owner);
      if (cache == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CKeyValueStorageSyncDB(
          file_path ? file_path : u"", cache, sync_manager, sync_timer));
    }
    case SyncClass::kKeyValueFile: {
      auto* cache = dynamic_cast<CKeyValueStorageCacheBase*>(owner);
      if (cache == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CKeyValueStorageSyncFile(
          file_path ? file_path : u"", cache, sync_manager, sync_timer));
    }
    case SyncClass::kKeyValueBinary: {
      auto* cache = dynamic_cast<CKeyValueStorageCacheBase*>(owner);
      if (cache == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CKeyValueStorageSyncBinary(
          file_path ? file_path : u"", cache, sync_manager, sync_timer));
    }
    case SyncClass::kKeyValueExFile: {
      auto* cache = dynamic_cast<CKeyValueStorageExCacheBase*>(owner);
      if (cache == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CKeyValueStorageExSyncFile(
          file_path ? file_path : u"", cache, sync_manager, sync_timer, name, write_mode));
    }
    case SyncClass::kBookmarkDB: {
      auto* model = dynamic_cast<CBookmarkTreeModel*>(owner);
      if (model == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CBookmarkStorageSyncDB(
          file_path ? file_path : u"", model, sync_manager, sync_timer));
    }
    case SyncClass::kBookmarkFile: {
      auto* model = dynamic_cast<CBookmarkTreeModel*>(owner);
      if (model == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CBookmarkStorageSyncFile(
          file_path ? file_path : u"", model, sync_manager, sync_timer));
    }
    case SyncClass::kExtensionFile: {
      auto* model = dynamic_cast<CExtensionStorageModel*>(owner);
      if (model == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CExtensionStorageFileSync(
          file_path ? file_path : u"", model, sync_manager, sync_timer));
    }
    case SyncClass::kIconBinary: {
      auto* cache = dynamic_cast<CIconStorageCacheBase*>(owner);
      if (cache == nullptr) return nullptr;
      return base::scoped_refptr<CStorageSyncBase>(new (std::nothrow) CIconStorageSyncBinary(
          file_path ? file_path : u"", cache, sync_manager, sync_timer));
    }
    default:
      return nullptr;
  }
}

}  // namespace

base::scoped_refptr<CStorageSyncBase>& CStorageSyncBase::create(
    base::scoped_refptr<CStorageSyncBase>& out, const char16_t* file_path, int storage_type,
    int sync_kind, int cache_kind, CStorageInMemStructure* owner, CStorageSyncManager* sync_manager,
    CStorageSyncTimer* sync_timer, int import_on_create, BSTR name, int write_mode) {
  base::CFunctionTrace trace(u"Storage::CStorageSyncBase::create", file_path, storage_type,
                             sync_kind, cache_kind);
  const SyncChoice* choice = FindChoice(storage_type, sync_kind, cache_kind);
  if (choice == nullptr) return out;
  base::scoped_refptr<CStorageSyncBase> sync = NewSynchroniser(
      choice->sync_class, file_path, owner, sync_manager, sync_timer, name, write_mode);
  if (!sync) return out;
  out = sync;

  // An import that cannot be posted runs here: the owner's callers wait for it, so it must run
  // somewhere.
  if (import_on_create || sync_manager == nullptr || !sync_manager->PostImport(sync.get())) {
    sync->performImport();
  }
  return out;
}

}  // namespace Storage
