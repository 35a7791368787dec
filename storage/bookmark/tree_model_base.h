// Storage::CTreeModelBase: the in-memory model of an ordered tree of identified nodes, the
// generic half of the bookmark model (CBookmarkTreeModel fills in the item-specific virtuals).
//
// The tree is made of shared data objects: an IObjectList root of ITreeNode nodes, each with
// an item and a child list. Published objects never change: every change copies the changed
// list and one node and one list per level up to the root, then swaps the copies in (path
// copying). A caller holding a root list, child list or node taken earlier keeps an unchanging
// snapshot without any lock.
//
// Identifiers are ordered and matched as VarBstrCmp(a, b, LOCALE_USER_DEFAULT, 0) orders them:
// the index keys are their collation sort keys, so lookups compare bytes. An identifier is read
// up to its first NUL; null and empty are the same.
//
// Positions (Add, Move, AddSubTree) are 1-based final positions: 1 or less inserts first, -1 or
// more than the count appends.
//
// The tree is always a proper tree of at most kMaxTreeDepth levels whose nodes name their
// actual parents: Add and Move refuse what would nest deeper (E_FAIL) and Move refuses a move
// into the node's own subtree, before anything changes; SetRoot and AddSubTree refuse
// (E_INVALIDARG, nothing changed) a given graph that reuses a node, has a cycle, nests too deep
// or has a node whose parent identifier is not its parent's identifier (empty at the top) or
// that has children but no identifier. So
// the file, which holds at most that depth, can always keep the tree, and no walk over it can
// run away.
//
// Transactions: one at a time, owned by the thread that opened it. The owner reads and changes
// a private working tree (its own index and copied set); other threads keep using the
// committed tree. A commit replaces the committed tree by the working tree. Lists the owner is
// handed (GetRoot, GetChildren) are published like the committed ones: the transaction's later
// changes copy them rather than edit them.
//
// Import gate: operations documented as waiting first wait, without time-out and before the
// lock, until the synchroniser's import has finished (the import ends in SetRoot).
//
// Thread safety: any thread. `lock_` guards every field. Lock order: `lock_`, then the
// synchroniser's lock (RecordSet / RecordRemove). Walks over the whole tree (GetAllIds,
// GetAllItems, CloneTree) take the root under the lock and walk the snapshot without it.
#pragma once

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/types.h"
#include "browserstorage/shared_objects.h"
#include "storage/bookmark/ov_compare.h"
#include "storage/sync/storage_in_mem_structure.h"
#include "storage/sync/xml_document.h"

namespace Storage {

// A bookmark level costs the file two elements ("bookmark" and its "children").
inline constexpr size_t kMaxTreeDepth = kMaxXmlDepth / 2;

// The change record a commit makes; it has no value.
inline constexpr char16_t kCommitChangeKey[] = u"cmd-sync-after-commit";

class CTreeModelBase : public CStorageInMemStructure {
 public:
  // Identifier sort key -> node.
  using IdIndex = std::map<std::string, ATL::CComPtr<ITreeNode>>;

  // The identifier text of a BSTR: up to its first NUL.
  static std::u16string_view IdText(BSTR id);
  // The index key of an identifier.
  static std::string IdKey(std::u16string_view id);

  // Virtual slots after the destructor (0), AddRef (1) and Release (2). "Waits": see the import
  // gate above. Out objects carry a reference for the caller.

  // Slot 3. Waits. The number of nodes of the current tree. E_INVALIDARG for a null out.
  virtual HRESULT GetCount(ULONG* count);
  // Slot 4. Waits. A new list of the identifiers of every node, depth first, pre-order.
  virtual HRESULT GetAllIds(IObjectList** ids);
  // Slot 5. Waits. A new list of the identifiers below node `id` (not its own), pre-order.
  // Unknown `id`: S_OK and *ids untouched.
  virtual HRESULT GetSubtreeIds(BSTR id, IObjectList** ids);
  // Slot 6. Waits. A new list of every node's item (as IUnknown), pre-order.
  virtual HRESULT GetAllItems(IObjectList** items);
  // Slot 7. Waits. The live item of node `id`. E_FAIL for an unknown `id`.
  virtual HRESULT GetItem(BSTR id, IBookmarkItem** item);
  // Slot 8. Waits. Empty `id`: the root list; otherwise the node's child list (S_OK and *list
  // untouched for an unknown `id`).
  virtual HRESULT GetChildren(BSTR id, IObjectList** list);
  // Slot 9. Waits. A new list of the items (as IUnknown) that MatchItem accepts, walking the
  // index in identifier order; `limit` other than -1 bounds the entries examined (a negative
  // one examines none).
  virtual HRESULT Search(BSTR text, LONG limit, IObjectList** items);
  // Slot 10. Waits. A new node holding `item` (stored as given) under `parent_id`. E_FAIL when
  // `id` is present, the parent is unknown or has no child list, or the tree would nest too
  // deep; E_INVALIDARG for a null item or empty id.
  virtual HRESULT Add(IBookmarkItem* item, BSTR id, BSTR parent_id, LONG position);
  // Slot 11. Waits. Removes node `id` with its subtree. E_FAIL for an unknown id.
  virtual HRESULT Remove(BSTR id);
  // Slot 12. Waits. Remove for each identifier of `ids`, results ignored. S_OK.
  virtual HRESULT RemoveMany(IObjectList* ids);
  // Slot 13. Waits. Replaces node `id`'s item with MergeItem(old, item), keeping its position
  // and children (a remove record, then a set record). E_FAIL for an unknown id.
  virtual HRESULT Update(BSTR id, IBookmarkItem* item);
  // Slot 14. Waits. Moves node `id` with its subtree. E_FAIL, the tree unchanged, for an
  // unknown node or parent, a parent inside the node's own subtree, or too deep a result.
  virtual HRESULT Move(BSTR id, BSTR new_parent_id, LONG position);
  // Slot 15. Waits. Move for each identifier of `ids`, results ignored. S_OK.
  virtual HRESULT MoveMany(IObjectList* ids, BSTR new_parent_id, LONG position);
  // Slot 16. Replaces the whole tree by `root` (null: an empty tree); no record. E_INVALIDARG,
  // nothing changed, for a graph that is not a tree of at most kMaxTreeDepth levels.
  virtual HRESULT SetRoot(IObjectList* root);
  // Slot 17. Waits. The current root list (null before the first SetRoot). S_OK.
  virtual HRESULT GetRoot(IObjectList** root);
  // Slot 18. E_NOTIMPL here.
  virtual HRESULT Sort(BSTR parent_id, IOVCompare* comparer, LONG descending);
  // Slot 19. Waits. A deep copy of the committed tree, sharing nothing with it. E_FAIL before
  // the first SetRoot.
  virtual HRESULT CloneTree(IObjectList** root);
  // Slot 20. Inserts `node` with its subtree under `parent_id` and indexes it; no record.
  // E_INVALIDARG for a null node or a graph that is not a tree short enough to fit; S_OK (and
  // nothing happens) for an unknown parent.
  virtual HRESULT AddSubTree(ITreeNode* node, BSTR parent_id, LONG position);
  // Slot 21. Waits. Opens a transaction for the calling thread. E_FAIL when one is open or
  // the tree has no root yet.
  virtual HRESULT BeginTransaction();
  // Slot 22. Waits. Commits (non-zero) or discards the caller's transaction. E_FAIL when none
  // is open; S_OK and no effect from a thread that does not own it.
  virtual HRESULT EndTransaction(LONG commit);
  // Slot 23. E_NOTIMPL here.
  virtual HRESULT IsImportFailed(ULONG* failed);
  // Slot 24. The item that replaces `old_item` on Update.
  virtual HRESULT MergeItem(IBookmarkItem* old_item, IBookmarkItem* new_item,
                            IBookmarkItem** merged) = 0;
  // Slot 25. Indexes every node of `list` and below into `index`; 1 when a list was given.
  virtual int VisitTreeToIndex(IObjectList* list, IdIndex& index)
      EXCLUSIVE_LOCKS_REQUIRED(lock_) = 0;
  // Slot 26. Non-zero when `text` matches `item`.
  virtual int MatchItem(BSTR text, IBookmarkItem* item) = 0;
  virtual void OnItemIndexed(BSTR id, IBookmarkItem* item)
      EXCLUSIVE_LOCKS_REQUIRED(lock_) = 0;  // slot 27
  virtual void OnItemUnindexed(BSTR id, IBookmarkItem* item)
      EXCLUSIVE_LOCKS_REQUIRED(lock_) = 0;                            // slot 28
  virtual void ClearItemIndex() EXCLUSIVE_LOCKS_REQUIRED(lock_) = 0;  // slot 29
  // Slot 30. An independent copy of `item` (null when it cannot be copied).
  virtual void CopyItem(IBookmarkItem* item, IBookmarkItem** copy) = 0;
  // Slot 31. Unindexes node `id` (and with `with_descendants` its subtree) and records one
  // removal for `id`.
  virtual void OnNodeRemoved(BSTR id, ITreeNode* node, int with_descendants)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Slot 32. Indexes `node` under `id` and records a set for `id`.
  virtual void OnNodeStored(BSTR id, ITreeNode* node) EXCLUSIVE_LOCKS_REQUIRED(lock_);

 protected:
  CTreeModelBase();
  ~CTreeModelBase() override;

  // The import gate.
  void AwaitImport();
  bool import_waited() const { return import_waited_.load(std::memory_order_acquire) != 0; }
  // True on the owner thread of an open transaction.
  bool InOwnTransaction() const EXCLUSIVE_LOCKS_REQUIRED(lock_);

  // Installs `list` as the child list of folder `parent_key` (a copy of the folder replaces it
  // and is path-copied up), or as the root when `parent` is null. Committed tree only.
  void InstallList(ITreeNode* parent, const std::string& parent_key, IObjectList* list)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);

  mutable base::CLock lock_;
  ATL::CComPtr<IObjectList> root_ GUARDED_BY(lock_);
  IdIndex index_ GUARDED_BY(lock_);

 private:
  struct ParentList;
  struct View {
    IObjectList* root;
    IdIndex* index;
  };

  View CurrentView() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // The current root, taken under the lock, for walks that run without it.
  ATL::CComPtr<IObjectList> CurrentRoot();

  // Committed tree.
  bool FindParentList(std::u16string_view parent_id, ParentList* out)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void SwapIn(ParentList& parent) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void PropagateUp(ITreeNode* old_node, ITreeNode* node) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT AddCommitted(IBookmarkItem* item, BSTR id, std::string key, BSTR parent_id, LONG position)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT RemoveCommitted(const std::string& key) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT UpdateCommitted(const std::string& key, IBookmarkItem* item)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // Drops index entry `id` and its item's index entries.
  void Unindex(BSTR id) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT MoveCommitted(const std::string& key, BSTR new_parent_id, LONG position)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);

  // Transaction forms.
  // On the owner thread: what the transaction changed in place so far has been handed out, so
  // later changes copy again.
  void PublishWorkingTree() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  // The working root, copied first when it has been handed out.
  IObjectList* OwnWorkingRoot() EXCLUSIVE_LOCKS_REQUIRED(lock_);
  bool FindParentListTxn(std::u16string_view parent_id, ParentList* out)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  void PropagateUpTxn(ITreeNode* old_node, ITreeNode* node) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  ATL::CComPtr<ITreeNode> MakePrivate(const std::string& key, ITreeNode* node)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT AddTxn(IBookmarkItem* item, BSTR id, std::string key, BSTR parent_id, LONG position)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT RemoveTxn(const std::string& key) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT UpdateTxn(const std::string& key, IBookmarkItem* item) EXCLUSIVE_LOCKS_REQUIRED(lock_);
  HRESULT MoveTxn(const std::string& key, BSTR new_parent_id, LONG position)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);

  // Checks a move of `node` (index key `key`) below `new_parent_key` (empty: the top level)
  // in `index`: the parent exists and is not inside the node's subtree, and the result is not
  // too deep.
  bool CanMove(const IdIndex& index, const std::string& key, ITreeNode* node,
               const std::string& new_parent_key, ITreeNode* new_parent)
      EXCLUSIVE_LOCKS_REQUIRED(lock_);

  std::atomic<int> import_waited_{0};
  bool in_transaction_ GUARDED_BY(lock_) = false;
  ATL::CComPtr<IObjectList> working_root_ GUARDED_BY(lock_);
  bool working_root_published_ GUARDED_BY(lock_) = false;
  IdIndex transaction_index_ GUARDED_BY(lock_);
  DWORD transaction_owner_ GUARDED_BY(lock_) = 0;
  std::set<std::string> copied_ GUARDED_BY(lock_);
};

}  // namespace Storage
