// Storage::CIconStorageSyncBinary: keeps an icon storage in its binary file (format in
// storage/icon/icon_file_format.h). It loads every icon once, keyed by its second text, and
// writes changes back: a sync that only stores icons appends their records in place, inside
// the file's pre-allocated length (the cache's memory limit + 64); a removal, a clear, a file
// of another length or an append that fails or would not fit rewrites the whole file.
//
// Crash safety. A full write goes to "<file>.tmp", pre-allocated, is flushed and then renamed
// over the file, so the name always holds a whole file. An append writes its records after the
// valid body and flushes them before it rewrites (and flushes) the header that counts them:
// until the new header is on the disk the old one stands, and it describes the old body,
// which the append did not touch. A failed write leaves the file as it was and keeps the
// changes pending, so the next tick (or the final sync) tries again.
//
// A file that exists but cannot be read whole (bad header, oversize body, short read, broken
// framing) is copied to "<file>.bad" first; the icons before the damage stay in the cache and
// a full write of them is owed, which replaces the damaged file. While the copy cannot be
// made, nothing replaces the file.
//
// Thread safety: the import runs in the thread that creates the storage (or on the sync
// thread), syncs on the sync thread, the final sync in the thread that drops the cache.
// `lock_` serialises them and DetachOwner. Lock order: `lock_`, the cache's lock, the base's
// change-list lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/lock.h"
#include "browserplatform/types.h"
#include "storage/icon/icon_file_format.h"
#include "storage/sync/storage_file_writer.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CIconStorageCacheBase;

class CIconStorageSyncBinary final : public CStorageSyncBase {
 public:
  // `cache` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  CIconStorageSyncBinary(std::u16string file_path, CIconStorageCacheBase* cache,
                         CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Waits for the import, then writes what is pending.
  void scheduleFinalSync() override;
  // Loads the file's icons into the cache without change records. A missing file leaves the
  // cache empty. The import-failed flag stays 0. Always ends with SetImported.
  void performImport() override;
  // Appends or rewrites when changes (or a rewrite after a damaged import) are pending;
  // otherwise stops the timer.
  void performSync() override;
  int SyncNow() override;
  DWORD GetSyncInterval() override { return 30000; }
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CIconStorageSyncBinary() override = default;

  void ImportFile() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Appends the set records of `changes` in place. False, with the file as it was described by
  // its header, when the file is not ours to append to or the records would not fit.
  bool DoAppend(const std::vector<PendingChange>& changes) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Rewrites the whole file from a snapshot of the cache; false leaves the old file.
  bool DoDump() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Creates `path` anew at `length` bytes (zeros), positioned at 0; INVALID_HANDLE_VALUE (and
  // no file) on failure.
  static HANDLE CreatePreallocatedFile(const std::u16string& path, uint64_t length);
  // Whether `path` exists with exactly `length` bytes.
  static bool FileSizeIs(const std::u16string& path, uint64_t length);
  static bool HasRemoveOrClear(const std::vector<PendingChange>& changes);
  static bool CheckIconFileHeader(const uint8_t header[kIconFileHeaderSize]);
  // The cache's memory limit (0 when it has none) + the header.
  uint64_t PreallocatedLength() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  uint32_t AppendLimit() EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CIconStorageCacheBase* cache_ GUARDED_BY(lock_);
  CStorageFileWriter writer_ GUARDED_BY(lock_);  // for KeepDamagedCopy
  // The file on disk is damaged: the next sync rewrites it whole, never appends to it.
  bool dump_owed_ GUARDED_BY(lock_) = false;
  // The damaged file could not be copied to ".bad": it may not be replaced until it is.
  bool copy_owed_ GUARDED_BY(lock_) = false;
};

}  // namespace Storage
