// Storage::CBookmarkStorageSyncFile: keeps the bookmark tree in its XML file (format in
// storage/bookmark/bookmark_model_xml_coder.h). It loads the file once, falling back to the
// backup "<file>.bak" when the file cannot be loaded, and rewrites the whole file whenever
// changes are pending; before a write it copies the current file to the backup, at most once
// per tick of the tick count.
//
// A main file that exists but cannot be loaded is kept as "<file>.bad", and it is not copied
// over the backup: the backup stays as it is until a main file has been written in this run,
// so a crash before that still leaves a readable file. A failed write keeps the changes
// pending, so the next tick tries again.
//
// Thread safety: the import runs on the sync thread (or the creating thread), syncs on the sync
// thread, the final sync in the thread that drops the model. `lock_` serialises them and
// DetachOwner. Lock order: `lock_`, the model's lock, the base's change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "storage/bookmark/bookmark_model_xml_coder.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CBookmarkTreeModel;

class CBookmarkStorageSyncFile final : public CStorageSyncBase {
 public:
  // `model` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  CBookmarkStorageSyncFile(std::u16string file_path, CBookmarkTreeModel* model,
                           CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Writes the pending changes once the import has finished.
  void scheduleFinalSync() override;
  // Loads the file, else its backup, into the model; an empty tree and the import-failed flag
  // when neither loads. Always ends with SetImported.
  void performImport() override;
  // Writes the whole tree when changes are pending; otherwise stops the timer.
  void performSync() override;
  int SyncNow() override;
  DWORD GetSyncInterval() override { return 10000; }
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CBookmarkStorageSyncFile() override = default;

  void Sync() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  BOOL DoBak() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Decodes `path`; keeps a file that exists but does not load as "<path>.bad".
  bool Load(const std::u16string& path, IObjectList** root) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CBookmarkTreeModel* model_ GUARDED_BY(lock_);
  CBookmarkModelXMLCoder coder_ GUARDED_BY(lock_);
  DWORD last_backup_tick_ GUARDED_BY(lock_) = 0;
  // The main file did not load in this run: the backup is the good copy until a write.
  bool keep_backup_ GUARDED_BY(lock_) = false;
};

}  // namespace Storage
