// Storage::CBookmarkStorageSyncDB: builds the bookmark tree from the table "bookmark" of a
// database opened through the database service (browserstorage/database_service.h). It reads
// every row once, makes one item per row, hangs each under the row its parent identifier
// names and hands the tree to the model. It writes nothing back: a sync with pending changes
// runs an empty transaction.
//
// The rows are another program's data and may not form a tree. Building never fails on them
// and always gives the model a tree it accepts:
// - a row without an identifier, or with one already read, is skipped (the first row wins);
// - a row whose parent never appears hangs under a stand-in that is not part of the tree, and
//   so do rows whose parents form a cycle; neither is reachable from the top level;
// - rows that would nest deeper than kMaxTreeDepth levels are left out.
// Each of these is logged. A row read before its parent is kept: the parent's row later takes
// over the stand-in made for it, children included.
//
// Thread safety: the import runs in the creating thread or on the sync thread, syncs on the
// sync thread, the final sync in the thread that drops the model. `lock_` serialises them and
// DetachOwner. Lock order: `lock_`, the model's lock, the base's change-list lock.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/database_service.h"
#include "browserstorage/shared_objects.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

class CBookmarkTreeModel;

inline constexpr char kBookmarkSelectSql[] = "select * from bookmark";

// The columns of a "bookmark" row, by position.
enum BookmarkColumn : INT {
  kBookmarkColumnId = 0,             // text
  kBookmarkColumnParentId = 1,       // text; empty at the top level
  kBookmarkColumnTitle = 2,          // text
  kBookmarkColumnKind = 3,           // 64-bit
  kBookmarkColumnUrl = 4,            // text
  kBookmarkColumnNote = 5,           // text
  kBookmarkColumnLastAccess = 6,     // 64-bit
  kBookmarkColumnSortPosition = 7,   // 32-bit, widened
  kBookmarkColumnUnused = 8,         // 32-bit, read and not kept
  kBookmarkColumnSystemDefault = 9,  // 32-bit, widened
  kBookmarkColumnAccessCount = 10,   // 32-bit
  kBookmarkColumnTimeAdded = 11,     // 64-bit
};

class CBookmarkStorageSyncDB final : public CStorageSyncBase {
 public:
  // `model` owns this synchroniser and is kept as a plain pointer until DetachOwner.
  CBookmarkStorageSyncDB(std::u16string file_path, CBookmarkTreeModel* model,
                         CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer);

  // Opens the database and gives the model the tree of its rows; without a database the model
  // keeps no root. Always ends with SetImported.
  void performImport() override;
  // Brackets the pending changes with a begin and a commit, writing nothing; otherwise stops
  // the timer.
  void performSync() override;
  int SyncNow() override;
  void DetachOwner() override;

  // The tree of `items` (IBookmarkItem elements, in row order) as a new root list, built as
  // described above. E_INVALIDARG for a null `root`; E_OUTOFMEMORY when an object cannot be
  // made.
  static HRESULT BuildWholeTree(IObjectList* items, IObjectList** root);
  // A new node holding `item`, with the item's identifier and parent identifier. E_INVALIDARG
  // for a null argument, E_FAIL when no node can be made.
  static HRESULT CreateNodeFromRow(IBookmarkItem* item, ITreeNode** node);

  const std::u16string& file_path() const { return file_path_; }

 private:
  ~CBookmarkStorageSyncDB() override;

  bool prepareForDB(const std::u16string& path) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  bool PrepareBookmarkQuery() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Every row as an item, in row order; E_FAIL when the query cannot be prepared.
  HRESULT GetAllBookmarkItem(IObjectList** items) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT GetWholeTree(IObjectList** root) EXCLUSIVE_LOCKS_REQUIRED(lock_);

  const std::u16string file_path_;
  base::CLock lock_;
  CBookmarkTreeModel* model_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseConnection> connection_ GUARDED_BY(lock_);
  ATL::CComPtr<IDatabaseStatement> statement_ GUARDED_BY(lock_);
  int statement_prepared_ GUARDED_BY(lock_) = 0;
};

}  // namespace Storage
