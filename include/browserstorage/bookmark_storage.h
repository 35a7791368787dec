// The bookmark storage: the user's bookmark tree, as a host reaches it.
//
// A host gets it from IStorageServiceEx::GetStorage(Storage::kBookmarkStorageId) or, without a
// file, from CreateTempStorage(Storage::kStorageTypeBookmarkTree), and asks the IUnknown for
// IBookmarkTreeModelStorage; the same object answers IStorageInfo. Every change is visible at
// once to every caller and is written to the storage's file later, in the background and when
// the service is uninitialised.
//
// The tree: object lists (IObjectList) of tree nodes (ITreeNode), each holding a bookmark item
// (IBookmarkItem), its identifier, its parent's identifier (empty at the top level) and a child
// list. Lists, nodes and items handed out are shared with the storage and never change
// afterwards: a change builds new ones. Hosts treat them as read-only; the storage never keeps
// a host's item object (Add stores a copy, Update a merged copy).
//
// Identifiers are the items' own (IBookmarkItem::GetId); they are compared in the user's
// collation at tertiary strength (case and accents matter) and read up to their first NUL.
// Positions are 1-based final positions: 1 or less inserts first, -1 or more than the count
// appends.
//
// The tree is at most 500 levels deep, and a tree handed in must be a proper one: no node in
// two places, no cycle, each node's parent identifier naming its actual parent.
//
// Results common to every operation: E_FAIL once the storage has been detached from its data
// by UnInitialize. Until the storage's file has been read, the calls wait for it (except
// SetRoot, RemoveTree, AddSubTree, Sort and IStorageInfo::IsImportFinished).
//
// Threads: any thread, concurrently. A transaction belongs to the thread that began it: its
// changes show only on that thread until it commits; other threads keep reading and changing
// the committed tree, and a commit replaces that tree by the transaction's.
#pragma once

#include "browserplatform/oleauto.h"
#include "browserplatform/types.h"
#include "browserplatform/unknwn.h"
#include "browserstorage/key_value_storage.h"  // IStorageInfo
#include "browserstorage/result_codes.h"
#include "browserstorage/shared_objects.h"

namespace Storage {

// IBookmarkTreeModelStorage::Sort's `sort_type`.
enum BookmarkSortType : LONG {
  kBookmarkSortByName = 1,  // higher kinds (folders) first, then titles in collation order
  kBookmarkSortByTime = 4,  // least recently visited first
};

}  // namespace Storage

struct IBookmarkTreeModelStorage : public IUnknown {
  // Slot 3. The top-level list (null before the tree has a root). S_OK.
  virtual HRESULT STDMETHODCALLTYPE GetRoot(IObjectList** root) = 0;
  // Slot 4. Replaces the whole tree by `root` (null: an empty tree). E_INVALIDARG for a graph
  // that is not a proper tree.
  virtual HRESULT STDMETHODCALLTYPE SetRoot(IObjectList* root) = 0;
  // Slot 5. Empties the tree. S_OK.
  virtual HRESULT STDMETHODCALLTYPE RemoveTree() = 0;
  // Slot 6. The number of nodes. E_INVALIDARG for a null out.
  virtual HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) = 0;
  // Slot 7. A new list of every identifier, depth first, parents before children.
  virtual HRESULT STDMETHODCALLTYPE GetAllIds(IObjectList** ids) = 0;
  // Slot 8. A new list of the identifiers below node `id`; S_OK and *ids untouched when `id`
  // is unknown.
  virtual HRESULT STDMETHODCALLTYPE GetSubtreeIds(BSTR id, IObjectList** ids) = 0;
  // Slot 9. A new list of every item (IUnknown elements), depth first.
  virtual HRESULT STDMETHODCALLTYPE GetAllItems(IObjectList** items) = 0;
  // Slot 10. The item of node `id`. E_FAIL when unknown.
  virtual HRESULT STDMETHODCALLTYPE GetItem(BSTR id, IBookmarkItem** item) = 0;
  // Slot 11. Empty `id`: the top-level list; else node `id`'s child list (S_OK, *list
  // untouched, when unknown).
  virtual HRESULT STDMETHODCALLTYPE GetChildren(BSTR id, IObjectList** list) = 0;
  // Slot 12. Adds a copy of `item` (which must answer IBookmarkItemProperty) under `parent_id`
  // (empty: the top level), identified by the item's identifier. E_FAIL for a null item, an
  // identifier already present, an unknown parent, or a tree that would be too deep.
  virtual HRESULT STDMETHODCALLTYPE Add(IBookmarkItem* item, BSTR parent_id, LONG position) = 0;
  // Slot 13. Removes node `id` and everything below it. E_FAIL when unknown.
  virtual HRESULT STDMETHODCALLTYPE Remove(BSTR id) = 0;
  // Slot 14. Remove for each identifier of the list. S_OK.
  virtual HRESULT STDMETHODCALLTYPE RemoveMany(IObjectList* ids) = 0;
  // Slot 15. Replaces the stored item of `item`'s identifier by a copy of `item` that keeps the
  // stored time added; the node keeps its place and children. E_FAIL for a null or unknown
  // item.
  virtual HRESULT STDMETHODCALLTYPE Update(IBookmarkItem* item) = 0;
  // Slot 16. Moves node `id` with its subtree under `new_parent_id`. E_FAIL, nothing changed,
  // for an unknown node or parent, a parent inside the node's own subtree, or too deep a tree.
  virtual HRESULT STDMETHODCALLTYPE Move(BSTR id, BSTR new_parent_id, LONG position) = 0;
  // Slot 17. Move for each identifier of the list in turn. S_OK.
  virtual HRESULT STDMETHODCALLTYPE MoveMany(IObjectList* ids, BSTR new_parent_id,
                                             LONG position) = 0;
  // Slot 18. Sorts the children of `parent_id` (empty: the top level) by
  // Storage::BookmarkSortType, stably; `descending` non-zero reverses the order. E_FAIL for
  // another sort type or an unknown folder.
  virtual HRESULT STDMETHODCALLTYPE Sort(BSTR parent_id, LONG sort_type, BOOL descending) = 0;
  // Slot 19. A new list of the items whose title, address or note contains `text` ignoring
  // case, examining at most `limit` nodes in identifier order (-1: all).
  virtual HRESULT STDMETHODCALLTYPE Search(BSTR text, LONG limit, IObjectList** items) = 0;
  // Slot 20. Address completion: at most `maximum` bookmarks whose address starts with the
  // typed text, tried after "http://www.", "http://", "ftp://ftp.", "https://", "https://www.",
  // "ftp://" and "ftp://www." unless it names a scheme, then as typed; most visited first, then
  // most recently visited. A bookmark may be listed twice (as "www." may start the text).
  // Case-sensitive. E_INVALIDARG for an empty text or null out.
  virtual HRESULT STDMETHODCALLTYPE SearchByURLPrefix(BSTR text, LONG maximum,
                                                      IObjectList** items) = 0;
  // Slot 21. Bookmarks whose title contains `text` ignoring case, most visited first, then most
  // recent, then address descending; at most `limit` (-1: all). E_INVALIDARG for an empty text.
  virtual HRESULT STDMETHODCALLTYPE SearchByName(BSTR text, LONG limit, IObjectList** items) = 0;
  // Slot 22. The bookmarks whose address is exactly `url`, most visited first. E_FAIL for an
  // empty url or null out.
  virtual HRESULT STDMETHODCALLTYPE GetBookmarksByURL(BSTR url, IObjectList** items) = 0;
  // Slot 23. *is_bookmark = 1 when some bookmark has exactly address `url`, else 0.
  virtual HRESULT STDMETHODCALLTYPE IsBookmarkByURL(BSTR url, BOOL* is_bookmark) = 0;
  // Slot 24. A deep copy of the tree that shares nothing with the storage. E_FAIL when there is
  // no tree yet.
  virtual HRESULT STDMETHODCALLTYPE CloneTree(IObjectList** root) = 0;
  // Slot 25. Inserts a ready-made node with its subtree under `parent_id`, as given (no copy).
  // E_INVALIDARG for a null node or a graph that is not a proper tree, or that reuses a node of
  // the storage's tree. S_OK and no change for an unknown parent.
  virtual HRESULT STDMETHODCALLTYPE AddSubTree(ITreeNode* node, BSTR parent_id, LONG position) = 0;
  // Slot 26. Begins the calling thread's transaction. E_FAIL when one is open.
  virtual HRESULT STDMETHODCALLTYPE BeginTransaction() = 0;
  // Slot 27. Commits (non-zero) or discards the calling thread's transaction. E_FAIL when none
  // is open; S_OK without effect from another thread.
  virtual HRESULT STDMETHODCALLTYPE EndTransaction(BOOL commit) = 0;
};
BROWSER_DECLARE_IID(IBookmarkTreeModelStorage, "4118A0F9-DCB7-4C3B-9107-44959BFBD766");
inline constexpr const IID& IID_IBookmarkTreeModelStorage = uuidof<IBookmarkTreeModelStorage>();
