// Storage::CKeyValueStorageSyncBinary: keeps a key-value storage in the binary file of
// storage/keyvalue/key_value_binary.h (the start-up data). It imports the file into the cache
// once, rewrites the whole file from a snapshot of the cache whenever changes are pending, and
// writes it once more when the cache goes.
//
// Crash safety: the file is replaced through a CStorageFileWriter in plain mode ("<file>.tmp",
// flushed, renamed over the file), so the name always holds a whole file. A failed write leaves
// the old file and keeps the changes pending, so the next tick (or the final sync) tries again.
//
// A file that exists but cannot be read whole (a short header, N past the end of the file, a
// record running past N, a value of 0 bytes or too long, a value object that cannot be made, a
// read error) is copied to "<file>.bad" and then deleted; the records before the damage stay in
// the cache and a write of them is owed, which the timer carries out even if nothing changes.
// While the copy cannot be made, the file is neither deleted nor replaced.
//
// Thread safety: the import runs in the thread that creates the storage (or on the sync
// thread), syncs on the sync thread, the final sync in the thread that drops the cache.
// `lock_` serialises them and DetachOwner. Lock order: `lock_`, the cache's lock, the base's
// change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CKeyValueStorageCacheBase;

class CKeyValueStorageSyncBinary final : public CStorageSyncBase {
 public:
  // `cache` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  // `sync_manager` is borrowed, `sync_timer` referenced (see CStorageSyncBase).
  CKeyValueStorageSyncBinary(std::u16string file_path, CKeyValueStorageCacheBase* cache,
                             CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Waits for the import, then writes the file whether or not changes are pending.
  void scheduleFinalSync() override;
  // Loads the file into the cache without change records. A missing file leaves the cache
  // empty. The import-failed flag stays 0. Always ends with SetImported.
  void performImport() override;
  // Writes the file when changes (or a write after a damaged import) are pending; otherwise
  // stops the timer.
  void performSync() override;
  // Posts performSync to the sync thread when there is a sync manager. Returns 0.
  int SyncNow() override;
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CKeyValueStorageSyncBinary() override = default;

  void ImportFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Reads the file whole into the cache. False when it exists and could not be read whole;
  // *imported counts the records stored before that.
  bool LoadFile(size_t* imported) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Writes the whole file from a snapshot of the cache; false leaves the old file.
  bool WriteFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CKeyValueStorageCacheBase* cache_ GUARDED_BY(lock_);
  CStorageFileWriter writer_ GUARDED_BY(lock_);
  // The file was damaged: the next sync writes what was read, whether or not anything changed.
  bool write_owed_ GUARDED_BY(lock_) = false;
};

}  // namespace Storage
