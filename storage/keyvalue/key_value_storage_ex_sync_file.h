// Storage::CKeyValueStorageExSyncFile: keeps a key-value-ex storage in its XML file (format in
// storage/keyvalue/key_value_ex_xml.h), read and written through a CStorageFileWriter with the
// storage's write mode (the registered auto-fill and auto-login files are encrypted). It imports
// the file into the cache once, rewrites the whole file from a snapshot of the cache whenever
// changes are pending, and writes it once more when the cache goes.
//
// The import makes each text value by the storage's value-interface name (the configuration's
// name), or by kTextValueInterfaceName when the configuration has none.
//
// A file that exists but cannot be imported whole (unreadable, not decryptable into a
// well-formed document, without a root, with items whose value object cannot be made, or with
// text that is not UTF-8) is copied to "<file>.bad" before any write replaces it; while that
// copy cannot be made, the file is not replaced.
//
// Thread safety: as CKeyValueStorageSyncFile. `lock_` serialises the import, the syncs and
// DetachOwner. Lock order: `lock_`, the cache's lock, the base's change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CKeyValueStorageExCacheBase;

class CKeyValueStorageExSyncFile final : public CStorageSyncBase {
 public:
  // `cache` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  // `sync_manager` is borrowed, `sync_timer` referenced (see CStorageSyncBase); `name` (may be
  // null) is copied; the file writer is made with `write_mode`.
  CKeyValueStorageExSyncFile(std::u16string file_path, CKeyValueStorageExCacheBase* cache,
                             CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer,
                             BSTR name, int write_mode);

  // Waits for the import, then writes the file whether or not changes are pending.
  void scheduleFinalSync() override;
  // Loads the file into the cache. A missing file leaves the cache empty. The import-failed
  // flag is set only when the file exists and cannot be read, decrypted into a well-formed
  // document, or has no root. Always ends with SetImported.
  void performImport() override;
  // Writes the file when changes are pending; otherwise stops the timer. A failed write keeps
  // the changes pending, so the next tick tries again.
  void performSync() override;
  // Posts performSync to the sync thread when there is a sync manager. Returns 0.
  int SyncNow() override;
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }
  int write_mode() const { return write_mode_; }

 private:
  ~CKeyValueStorageExSyncFile() override = default;

  void ImportFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Writes the whole file from a snapshot of the cache; false leaves the old file.
  bool WriteFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  const int write_mode_;
  base::CLock lock_;
  CKeyValueStorageExCacheBase* cache_ GUARDED_BY(lock_);
  CStorageFileWriter writer_ GUARDED_BY(lock_);
};

}  // namespace Storage
