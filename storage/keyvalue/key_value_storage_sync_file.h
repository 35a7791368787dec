// Storage::CKeyValueStorageSyncFile: keeps a key-value storage in an XML file (the format is in
// storage/keyvalue/key_value_xml.h). It imports the file into the cache once, rewrites the whole
// file from a snapshot of the cache whenever changes are pending, and writes it once more when
// the cache goes. Files are read and written through a CStorageFileWriter with the cache's
// write mode, so a write replaces the file atomically.
//
// Thread safety: the import runs in the thread that creates the storage (or on the sync
// thread), syncs on the sync thread, the final sync in the thread that drops the cache.
// `lock_` serialises them and DetachOwner, so two writes never share the ".tmp" file and none
// reads the cache once it is going. Lock order: `lock_`, the cache's lock, the base's
// change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CKeyValueStorageCacheBase;

class CKeyValueStorageSyncFile final : public CStorageSyncBase {
 public:
  // `cache` owns this synchroniser and is kept as a plain pointer until DetachOwner; its write
  // mode is read here. `sync_manager` is borrowed, `sync_timer` referenced (see
  // CStorageSyncBase).
  CKeyValueStorageSyncFile(std::u16string file_path, CKeyValueStorageCacheBase* cache,
                           CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Writes the file whether or not changes are pending.
  void scheduleFinalSync() override;
  // Loads the file into the cache. A missing, unreadable or malformed file, or one without
  // an ItemTable root, sets the import-failed flag and leaves the cache empty. A file that
  // exists but is unreadable, malformed, rootless or holds keys that are not UTF-8 is kept as
  // "<file>.bad" first (the valid items of the last kind are imported); when that copy cannot
  // be made, the file is not replaced in this run. Always ends with SetImported.
  void performImport() override;
  // Writes the file when changes are pending; otherwise stops the timer. A failed write keeps
  // the changes pending, so the next tick tries again.
  void performSync() override;
  // Posts performSync to the sync thread when there is a sync manager. Returns 0.
  int SyncNow() override;
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CKeyValueStorageSyncFile() override = default;

  void ImportFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Writes the whole file from a snapshot of the cache; a failed write leaves the old file and
  // returns false.
  bool WriteFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CKeyValueStorageCacheBase* cache_ GUARDED_BY(lock_);
  CStorageFileWriter writer_ GUARDED_BY(lock_);
};

}  // namespace Storage
