// Storage::CKeyValueStorageSyncDB: keeps a key-value storage in the table "ItemTable" of a
// database opened through the database service (browserstorage/database_service.h). The import
// reads every row into the cache; each sync replays the recorded changes (set, remove, clear)
// as statements inside one transaction, so a sync costs one transaction whatever the number of
// changes. The final sync is the base's: it replays what is pending.
//
// The in-memory data stay authoritative: a statement that fails is skipped and the rest of
// the batch runs. A transaction that cannot begin or commit has written nothing, so its
// changes are put back and the next tick replays them. Without a database (no service, a file
// that cannot be opened) the storage starts empty and every sync discards its changes.
//
// Thread safety: the import runs in the creating thread or on the sync thread, syncs on the
// sync thread, the final sync in the thread that drops the cache. `lock_` serialises them and
// DetachOwner. Lock order: `lock_`, the cache's lock, the base's change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/database_service.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CKeyValueStorageCacheBase;

// The gap between the pieces of the create statement: one space, ten tabs and two spaces.
#define BROWSER_ITEM_TABLE_GAP " \t\t\t\t\t\t\t\t\t\t  "

inline constexpr char kItemTableName[] = "ItemTable";
inline constexpr char kItemTableCreateSql[] =
    "create table ItemTable(" BROWSER_ITEM_TABLE_GAP
    "id INTEGER PRIMARY KEY," BROWSER_ITEM_TABLE_GAP
    "key text not null UNIQUE ON CONFLICT REPLACE," BROWSER_ITEM_TABLE_GAP
    "value BLOB default null" BROWSER_ITEM_TABLE_GAP ")";
inline constexpr char kItemTableSelectSql[] = "select * from ItemTable";
inline constexpr char kItemTableRemoveSql[] = "delete from ItemTable where key = :key";
inline constexpr char kItemTableClearSql[] = "delete from ItemTable";
inline constexpr char kItemTableSetSql[] =
    "insert or replace into ItemTable values(:id, :key, :value)";

#undef BROWSER_ITEM_TABLE_GAP

// Parameter positions: :key of the remove statement; :key and :value of the set statement (its
// :id stays unbound, so the database numbers the row).
inline constexpr INT kItemTableRemoveKeyIndex = 1;
inline constexpr INT kItemTableSetKeyIndex = 2;
inline constexpr INT kItemTableSetValueIndex = 3;

class CKeyValueStorageSyncDB final : public CStorageSyncBase {
 public:
  // `cache` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  CKeyValueStorageSyncDB(std::u16string file_path, CKeyValueStorageCacheBase* cache,
                         CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Opens the database and reads every row with a value into the cache; a database without
  // the table gets it and sets the import-failed flag. Always ends with SetImported.
  void performImport() override;
  // Replays the pending changes in one transaction; otherwise stops the timer.
  void performSync() override;
  int SyncNow() override;
  void DetachOwner() override;

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CKeyValueStorageSyncDB() override;

  // Opens the database once and makes sure the table exists; 1 when the database is usable.
  int prepareForDB() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void ImportRows() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Prepares the remove, clear and set statements, once all three succeed.
  bool PrepareChangeStatements() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void Replay(const PendingChange& change) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CKeyValueStorageCacheBase* cache_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseConnection> connection_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseStatement> remove_statement_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseStatement> clear_statement_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseStatement> set_statement_ GUARDED_BY(lock_);
  int statements_prepared_ GUARDED_BY(lock_) = 0;
};

}  // namespace Storage
