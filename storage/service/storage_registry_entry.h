// The fixed registry of the storages the system knows: one row per storage identifier, saying
// which in-memory structure holds it, how it reaches the disk and under which file name.
#pragma once

#include "browserstorage/storage_service.h"
#include "storage/sync/storage_config_base.h"  // CacheKind, SyncKind, WriteMode

namespace Storage {

struct StorageRegistryEntry {
  const char16_t* id;
  int cacheKind;             // CacheKind
  int memoryLimit;           // bytes, kNoMemoryLimit for none
  int syncKind;              // SyncKind
  int storageType;           // StorageType
  const char16_t* fileName;  // relative to the user's data folder
  int writeMode;             // WriteMode
  // 1: the file is read while the storage is created, in the caller's thread; 0: on the sync
  // thread, after creation has returned.
  int importOnCreate;
};

// The registry, in this order. The extension database keeps its backslash: the file layer
// takes '\' and '/' alike.
inline constexpr StorageRegistryEntry kStorageRegistry[] = {
    {kUserPrefStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile, kStorageTypeKeyValue,
     u"userpref_v2", kWriteModeFlushed, 1},
    {kBrowserPrefStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile, kStorageTypeKeyValue,
     u"browserpref_v2", kWriteModeFlushed, 1},
    {kBookmarkStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile,
     kStorageTypeBookmarkTree, u"bookmark_v2", kWriteModePlain, 0},
    {kStartupDataStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindBinaryFile,
     kStorageTypeKeyValue, u"startupdata", kWriteModePlain, 1},
    {kFavorIconStorageId, kCacheKindMemoryLimited, 10485760, kSyncKindBinaryFile, kStorageTypeIcon,
     u"favoricon_v2", kWriteModePlain, 1},
    {kExtensionStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile, kStorageTypeExtension,
     u"localextensions\\extdb_v2.json", kWriteModePlain, 1},
    {kUserSelectedInfoStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile,
     kStorageTypeKeyValue, u"UserSelectedInfo_v2", kWriteModePlain, 1},
    {kAutoFillStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile, kStorageTypeKeyValueEx,
     u"AutoFill_v2", kWriteModeEncrypted, 1},
    {kAutoLoginStorageId, kCacheKindFull, kNoMemoryLimit, kSyncKindTextFile, kStorageTypeKeyValueEx,
     u"AutoLogin_v2", kWriteModeEncrypted, 1},
};

}  // namespace Storage
