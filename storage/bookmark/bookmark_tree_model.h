// Storage::CBookmarkTreeModel: the user's bookmarks in memory. The copy-on-write tree of
// CTreeModelBase with bookmark items in its nodes, an address index over the committed
// bookmarks that have an address, the searches the browser uses (typed-address completion,
// title search, exact address), and the folder sort.
//
// Searches run on the committed tree (a transaction's changes show after its commit), wait for
// the import and hand out the tree's live items through IBookmarkItem in new object lists.
// Callers treat those items as read-only; Update replaces an item by a merged copy.
//
// Thread safety: any thread; everything runs under the base's lock.
#pragma once

#include <vector>

#include "browserplatform/types.h"
#include "storage/bookmark/bookmark_address_index.h"
#include "storage/bookmark/tree_model_base.h"

namespace Storage {

class CStorageConfigBase;
class CStorageSyncBase;
class CStorageSyncManager;
class CStorageSyncTimer;

// The change record a sort makes; it has no value.
inline constexpr char16_t kSortChangeKey[] = u"sync-sort";

class CBookmarkTreeModel final : public CTreeModelBase {
 public:
  // With a configuration, the model gets the synchroniser CStorageSyncBase::create picks for it
  // (which may import on the sync thread); without one it has none: it never waits, records
  // nothing and lives in memory only. `sync_manager` and `sync_timer` may be null.
  CBookmarkTreeModel(CStorageConfigBase* config, CStorageSyncManager* sync_manager,
                     CStorageSyncTimer* sync_timer);
  // A model kept by `sync` (may be null), which the caller has built; for tests and tools.
  explicit CBookmarkTreeModel(base::scoped_refptr<CStorageSyncBase> sync);

  // Sorts the children of `parent_id` (empty: the top level) by `comparer`, stably, reversed
  // when `descending` is non-zero; children without an item keep their order after the
  // sorted ones. No wait, committed tree. E_FAIL for no comparer, an unknown folder or one
  // without children list (the last two still make the "sync-sort" record, so the file is
  // rewritten as after any sort).
  HRESULT Sort(BSTR parent_id, IOVCompare* comparer, LONG descending) override;
  // Waits. The synchroniser's import-failed flag. E_FAIL without synchroniser or out.
  HRESULT IsImportFailed(ULONG* failed) override;
  // A copy of `old_item` with every property of `new_item` but the time added.
  HRESULT MergeItem(IBookmarkItem* old_item, IBookmarkItem* new_item,
                    IBookmarkItem** merged) override;
  int VisitTreeToIndex(IObjectList* list, IdIndex& index) override EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // The text occurs, ignoring case, in the title, the address or the note.
  int MatchItem(BSTR text, IBookmarkItem* item) override;
  void OnItemIndexed(BSTR id, IBookmarkItem* item) override EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void OnItemUnindexed(BSTR id, IBookmarkItem* item) override EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void ClearItemIndex() override EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void CopyItem(IBookmarkItem* item, IBookmarkItem** copy) override;

  // The best-visited bookmarks (at most `maximum`) whose address starts with the typed text:
  // "http://"/"https://" and leading slashes are dropped, and unless the rest names a scheme
  // it is tried after "http://www.", "http://", "ftp://ftp.", "https://", "https://www.",
  // "ftp://" and "ftp://www."; when none of them finds anything, the text as typed is tried.
  // E_INVALIDARG for an empty text or null out.
  HRESULT SearchByURLPrefix(BSTR text, LONG maximum, IObjectList** items);
  // Bookmarks (kind 1) whose title contains the text ignoring case, most visited first, then
  // most recent, then address descending; one of several equal on all three. `limit` -1: all.
  // E_INVALIDARG for an empty text or null out.
  HRESULT SearchByName(BSTR text, LONG limit, IObjectList** items);
  // The bookmarks whose address is exactly `url`, most visited first. E_FAIL for an empty url,
  // a null out or a list that cannot be made.
  HRESULT GetBookmarksByURL(BSTR url, IObjectList** items);
  // *found = 1 when a bookmark has exactly address `url`, else 0. E_FAIL as above.
  HRESULT IsBookmarkByURL(BSTR url, BOOL* found);
  // *finished = 1 once the import has finished (no wait). E_FAIL without synchroniser or out.
  HRESULT IsImportFinished(ULONG* finished);

  size_t address_index_size_for_testing();

 private:
  ~CBookmarkTreeModel() override;

  CBookmarkAddressIndex address_index_ GUARDED_BY(lock_);
};

}  // namespace Storage
