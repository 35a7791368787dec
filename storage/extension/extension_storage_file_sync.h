// Storage::CExtensionStorageFileSync: keeps the extension database in its JSON file (format in
// docs/formats.md, "Extension database"). It loads the file into the model's two tables once,
// rewrites the whole file from the model whenever changes are pending, and writes the pending
// changes once more when the model goes (the base's scheduleFinalSync). Files are read and
// written through a CStorageFileWriter with the configuration's write mode, so a write replaces
// the file atomically.
//
// A file that exists but cannot be read, is not UTF-8, or is not a database document taken
// whole (see CExtensionStorageModel::DecodeExtensionDb) is kept as "<file>.bad" before anything
// replaces it; while that copy cannot be made, the file is not replaced. A missing file is a
// first start: empty tables, nothing kept. The import-failed flag stays 0 in every case. A
// failed write keeps the changes pending, so the next tick (or the final sync) tries again.
//
// Thread safety: the import runs in the thread that creates the storage (or on the sync
// thread), syncs on the sync thread, the final sync in the thread that drops the model. `lock_`
// serialises them and DetachOwner, so two writes never share the ".tmp" file and none reads
// the model once it is going. Lock order: `lock_`, a table's lock, the base's change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CExtensionStorageModel;

class CExtensionStorageFileSync final : public CStorageSyncBase {
 public:
  // `model` owns this synchroniser and is kept as a plain pointer until DetachOwner; its write
  // mode is read here. `sync_manager` and `sync_timer` are referenced (see CStorageSyncBase).
  CExtensionStorageFileSync(std::u16string file_path, CExtensionStorageModel* model,
                            CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Loads the file into the model without change records. Always ends with SetImported.
  void performImport() override;
  // Once the import has finished: rewrites the file when changes are pending ("ext db will
  // sync", level 37, "ext;"); otherwise stops the timer.
  void performSync() override;
  // Posts performSync to the sync thread when there is a sync manager. Returns 0.
  int SyncNow() override;
  DWORD GetSyncInterval() override { return 300000; }
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CExtensionStorageFileSync() override = default;

  void ImportFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CExtensionStorageModel* model_ GUARDED_BY(lock_);
  CStorageFileWriter writer_ GUARDED_BY(lock_);
};

}  // namespace Storage
