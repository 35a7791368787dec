#include "storage/bookmark/tree_model_base.h"

#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "browserplatform/collation.h"
#include "browserplatform/oleauto.h"
#include "browserplatform/process.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {
namespace {

using NodePtr = ATL::CComPtr<ITreeNode>;
using ListPtr = ATL::CComPtr<IObjectList>;

ListPtr NewList() {
  ListPtr list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  return list;
}

ListPtr CloneList(IObjectList* list) {
  ListPtr copy;
  if (list != nullptr) list->Clone(copy.Receive());
  return copy;
}

NodePtr CloneNode(ITreeNode* node) {
  NodePtr copy;
  if (node != nullptr) node->Clone(copy.Receive());
  return copy;
}

UINT Count(IObjectList* list) {
  UINT count = 0;
  if (list != nullptr) list->Count(&count);
  return count;
}

NodePtr At(IObjectList* list, UINT index) {
  NodePtr node;
  list->GetAt(index, IID_ITreeNode, node.ReceiveVoid());
  return node;
}

ListPtr Children(ITreeNode* node) {
  ListPtr list;
  node->GetChildList(list.Receive());
  return list;
}

ATL::CComPtr<IBookmarkItem> ItemOf(ITreeNode* node) {
  ATL::CComPtr<IBookmarkItem> item;
  node->GetItem(item.Receive());
  return item;
}

ATL::CComBSTR NodeId(ITreeNode* node) {
  ATL::CComBSTR id;
  node->GetId(id.Receive());
  return id;
}

// A view of the result (IdText) lives only as long as the result: keep it in a variable.
ATL::CComBSTR NodeParentId(ITreeNode* node) {
  ATL::CComBSTR id;
  node->GetParentId(id.Receive());
  return id;
}

ATL::CComBSTR ToBstr(std::u16string_view text) {
  ATL::CComBSTR copy(text.data(), static_cast<UINT>(text.size()));
  if (copy.get() == nullptr) throw CHResultException(E_OUTOFMEMORY);
  return copy;
}

// The position of `node` itself in `list`, or -1.
int FindIdentity(IObjectList* list, ITreeNode* node) {
  const UINT count = Count(list);
  for (UINT i = 0; i < count; ++i) {
    if (At(list, i).get() == node) return static_cast<int>(i);
  }
  return -1;
}

// Puts `node` where `old_node` is, in place; false when `old_node` is not in `list`.
bool ReplaceIdentity(IObjectList* list, ITreeNode* old_node, ITreeNode* node) {
  const int index = FindIdentity(list, old_node);
  if (index < 0) return false;
  list->RemoveAt(static_cast<UINT>(index));
  list->InsertAt(static_cast<UINT>(index), IID_ITreeNode, node);
  return true;
}

void InsertByPosition(IObjectList* list, ITreeNode* node, LONG position) {
  const LONG count = static_cast<LONG>(Count(list));
  if (position == -1 || position > count) {
    list->Append(IID_ITreeNode, node);
  } else {
    list->InsertAt(position >= 1 ? static_cast<UINT>(position - 1) : 0, IID_ITreeNode, node);
  }
}

// A new node holding `item` under `parent` (null: the top level), with an empty child list.
// The parent identifier is the parent's own spelling of its identifier, so that parent
// identifiers match exactly.
HRESULT NewNode(IBookmarkItem* item, std::u16string_view id, ITreeNode* parent, NodePtr* out) {
  NodePtr node;
  if (HRESULT created = Util::Com::CreateObjectByIID(IID_ITreeNode, node.ReceiveVoid());
      FAILED(created)) {
    return created;
  }
  ListPtr children = NewList();
  if (!children) return E_OUTOFMEMORY;
  node->SetItem(item);
  node->SetId(ToBstr(id));
  node->SetParentId(parent != nullptr ? NodeId(parent) : ToBstr(u""));
  node->SetChildList(children);
  *out = std::move(node);
  return S_OK;
}

// The node `parent_id` names in `index` (null with an empty key for the top level). False when
// a non-empty identifier is not in `index`.
bool FindNewParent(const CTreeModelBase::IdIndex& index, BSTR parent_id, std::string* key,
                   NodePtr* parent) {
  if (CTreeModelBase::IdText(parent_id).empty()) return true;
  *key = CTreeModelBase::IdKey(CTreeModelBase::IdText(parent_id));
  auto found = index.find(*key);
  if (found == index.end()) return false;
  *parent = found->second;
  return true;
}

// Pre-order walk below `list`, calling visit(node) for every node.
template <class Visit>
void WalkPreOrder(IObjectList* list, Visit visit) {
  struct Frame {
    ListPtr list;
    UINT next;
    UINT count;
  };
  std::vector<Frame> stack;
  if (list != nullptr) stack.push_back({ListPtr(list), 0, Count(list)});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next >= top.count) {
      stack.pop_back();
      continue;
    }
    NodePtr node = At(top.list, top.next++);
    if (!node) continue;
    visit(node.get());
    if (ListPtr children = Children(node); children && Count(children) > 0) {
      stack.push_back({children, 0, Count(children)});
    }
  }
}

// The identifiers below `node`, pre-order.
std::vector<ATL::CComBSTR> DescendantIds(ITreeNode* node) {
  std::vector<ATL::CComBSTR> ids;
  WalkPreOrder(Children(node), [&](ITreeNode* descendant) { ids.push_back(NodeId(descendant)); });
  return ids;
}

bool SameText(BSTR a, std::u16string_view b) { return CTreeModelBase::IdText(a) == b; }

// The levels from `node` up to the top of `index`'s tree (1 for a top-level node).
size_t DepthOf(const CTreeModelBase::IdIndex& index, ITreeNode* node) {
  size_t depth = 1;
  NodePtr current(node);
  while (depth <= kMaxTreeDepth) {
    const ATL::CComBSTR parent_bstr = NodeParentId(current);
    std::u16string_view parent = CTreeModelBase::IdText(parent_bstr);
    if (parent.empty()) break;
    auto found = index.find(CTreeModelBase::IdKey(parent));
    if (found == index.end()) break;
    current = found->second;
    ++depth;
  }
  return depth;
}

// The levels of `node`'s subtree (1 for a leaf), counted up to `limit` + 1 at most.
size_t HeightOf(ITreeNode* node, size_t limit) {
  size_t height = 0;
  std::vector<std::pair<NodePtr, size_t>> stack{{NodePtr(node), 1}};
  while (!stack.empty() && height <= limit) {
    auto [current, level] = std::move(stack.back());
    stack.pop_back();
    if (level > height) height = level;
    ListPtr children = Children(current);
    const UINT count = Count(children);
    for (UINT i = 0; i < count; ++i) {
      if (NodePtr child = At(children, i)) stack.emplace_back(std::move(child), level + 1);
    }
  }
  return height;
}

// Whether the graph below `tops` (nodes whose parent is `parent_id`, at depth `depth`) may
// join a tree: every node reached once, none in `published` under its own key, parent
// identifiers naming the actual parents, at most kMaxTreeDepth levels in all.
bool IsAcceptableTree(const std::vector<NodePtr>& tops, std::u16string_view parent_id, size_t depth,
                      const CTreeModelBase::IdIndex* published) {
  struct Pending {
    NodePtr node;
    size_t depth;
    ATL::CComBSTR parent_id;
  };
  std::unordered_set<ITreeNode*> seen;
  std::vector<Pending> stack;
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    stack.push_back({*it, depth + 1, ToBstr(parent_id)});
  }
  while (!stack.empty()) {
    Pending current = std::move(stack.back());
    stack.pop_back();
    if (current.depth > kMaxTreeDepth || !seen.insert(current.node.get()).second) return false;
    if (!SameText(NodeParentId(current.node), CTreeModelBase::IdText(current.parent_id))) {
      return false;
    }
    ATL::CComBSTR id = NodeId(current.node);
    ListPtr children = Children(current.node);
    // Children name their parent by its identifier: a nameless node cannot have any.
    if (CTreeModelBase::IdText(id).empty() && Count(children) > 0) return false;
    if (published != nullptr) {
      auto found = published->find(CTreeModelBase::IdKey(CTreeModelBase::IdText(id)));
      if (found != published->end() && found->second.get() == current.node.get()) return false;
    }
    for (UINT i = Count(children); i > 0; --i) {
      if (NodePtr child = At(children, i - 1)) stack.push_back({child, current.depth + 1, id});
    }
  }
  return true;
}

}  // namespace

struct CTreeModelBase::ParentList {
  ListPtr list;    // the list to change: a copy, or the transaction's own
  NodePtr parent;  // null for the top level
  std::string parent_key;
};

std::u16string_view CTreeModelBase::IdText(BSTR id) {
  return id == nullptr ? std::u16string_view() : std::u16string_view(id);
}

std::string CTreeModelBase::IdKey(std::u16string_view id) {
  try {
    return platform::CollationSortKey(id);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
}

CTreeModelBase::CTreeModelBase() = default;

CTreeModelBase::~CTreeModelBase() = default;

void CTreeModelBase::AwaitImport() {
  if (import_waited_.load(std::memory_order_acquire)) return;
  if (CStorageSyncBase* sync = synchroniser()) {
    sync->WaitForImport();
    import_waited_.store(1, std::memory_order_release);
  }
}

bool CTreeModelBase::InOwnTransaction() const {
  return in_transaction_ && transaction_owner_ == GetCurrentThreadId();
}

CTreeModelBase::View CTreeModelBase::CurrentView() {
  if (InOwnTransaction()) return {working_root_.get(), &transaction_index_};
  return {root_.get(), &index_};
}

// ---------------------------------------------------------------------------------------------
// Reads.

HRESULT CTreeModelBase::GetCount(ULONG* count) {
  if (count == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  *count = static_cast<ULONG>(CurrentView().index->size());
  return S_OK;
}

ATL::CComPtr<IObjectList> CTreeModelBase::CurrentRoot() {
  base::CAutoLock guard(lock_);
  return CurrentView().root;
}

HRESULT CTreeModelBase::GetAllIds(IObjectList** ids) {
  if (ids == nullptr) return E_INVALIDARG;
  AwaitImport();
  ListPtr root = CurrentRoot();
  ListPtr result = NewList();
  if (!result) return E_OUTOFMEMORY;
  WalkPreOrder(root, [&](ITreeNode* node) { result->AppendString(NodeId(node)); });
  *ids = result.Detach();
  return S_OK;
}

HRESULT CTreeModelBase::GetSubtreeIds(BSTR id, IObjectList** ids) {
  if (ids == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  const IdIndex& index = *CurrentView().index;
  auto found = index.find(IdKey(IdText(id)));
  if (found == index.end()) return S_OK;
  ListPtr result = NewList();
  if (!result) return E_OUTOFMEMORY;
  WalkPreOrder(Children(found->second),
               [&](ITreeNode* node) { result->AppendString(NodeId(node)); });
  *ids = result.Detach();
  return S_OK;
}

HRESULT CTreeModelBase::GetAllItems(IObjectList** items) {
  if (items == nullptr) return E_INVALIDARG;
  AwaitImport();
  ListPtr root = CurrentRoot();
  ListPtr result = NewList();
  if (!result) return E_OUTOFMEMORY;
  WalkPreOrder(root, [&](ITreeNode* node) {
    if (ATL::CComPtr<IBookmarkItem> item = ItemOf(node)) result->Append(IID_IUnknown, item);
  });
  *items = result.Detach();
  return S_OK;
}

HRESULT CTreeModelBase::GetItem(BSTR id, IBookmarkItem** item) {
  if (item == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  const IdIndex& index = *CurrentView().index;
  auto found = index.find(IdKey(IdText(id)));
  if (found == index.end()) return E_FAIL;
  return found->second->GetItem(item);
}

HRESULT CTreeModelBase::GetChildren(BSTR id, IObjectList** list) {
  if (list == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  View view = CurrentView();
  if (IdText(id).empty()) {
    *list = view.root;
    if (view.root != nullptr) view.root->AddRef();
    PublishWorkingTree();
    return S_OK;
  }
  auto found = view.index->find(IdKey(IdText(id)));
  if (found == view.index->end()) return S_OK;
  PublishWorkingTree();
  return found->second->GetChildList(list);
}

HRESULT CTreeModelBase::Search(BSTR text, LONG limit, IObjectList** items) {
  if (items == nullptr) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  ListPtr result;
  if (HRESULT created = Util::Com::CreateObjectByIID(IID_IObjectList, result.ReceiveVoid());
      FAILED(created)) {
    return created;
  }
  LONG examined = 0;
  for (const auto& [key, node] : *CurrentView().index) {
    if (!node) continue;
    if (limit != -1 && examined++ >= limit) break;
    ATL::CComPtr<IBookmarkItem> item = ItemOf(node);
    if (item && MatchItem(text, item)) result->Append(IID_IUnknown, item);
  }
  *items = result.Detach();
  return S_OK;
}

HRESULT CTreeModelBase::GetRoot(IObjectList** root) {
  AwaitImport();
  base::CAutoLock guard(lock_);
  if (root != nullptr) {
    *root = CurrentView().root;
    if (*root != nullptr) (*root)->AddRef();
    PublishWorkingTree();
  }
  return S_OK;
}

HRESULT CTreeModelBase::CloneTree(IObjectList** root) {
  if (root == nullptr) return E_INVALIDARG;
  AwaitImport();
  ListPtr source;
  {
    base::CAutoLock guard(lock_);
    source = root_;
  }
  if (!source) return E_FAIL;
  ListPtr result = NewList();
  if (!result) return E_FAIL;
  // Copies in pre-order; each node's copy is appended to its parent copy's new list.
  std::vector<std::pair<NodePtr, ListPtr>> stack;
  for (UINT i = Count(source); i > 0; --i) {
    if (NodePtr node = At(source, i - 1)) stack.emplace_back(std::move(node), result);
  }
  while (!stack.empty()) {
    auto [node, target] = std::move(stack.back());
    stack.pop_back();
    NodePtr copy = CloneNode(node);
    ListPtr children = NewList();
    if (!copy || !children) return E_FAIL;
    ATL::CComPtr<IBookmarkItem> item_copy;
    if (ATL::CComPtr<IBookmarkItem> item = ItemOf(node)) CopyItem(item, item_copy.Receive());
    copy->SetItem(item_copy);
    copy->SetChildList(children);
    target->Append(IID_ITreeNode, copy);
    ListPtr source_children = Children(node);
    for (UINT i = Count(source_children); i > 0; --i) {
      if (NodePtr child = At(source_children, i - 1))
        stack.emplace_back(std::move(child), children);
    }
  }
  *root = result.Detach();
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Changes to the committed tree.

bool CTreeModelBase::FindParentList(std::u16string_view parent_id, ParentList* out) {
  if (parent_id.empty()) {
    if (!root_) return false;
    out->list = CloneList(root_);
    out->parent.Release();
    out->parent_key.clear();
    return static_cast<bool>(out->list);
  }
  std::string key = IdKey(parent_id);
  auto found = index_.find(key);
  if (found == index_.end()) return false;
  ListPtr children = Children(found->second);
  if (!children) return false;
  out->list = CloneList(children);
  out->parent = found->second;
  out->parent_key = std::move(key);
  return static_cast<bool>(out->list);
}

void CTreeModelBase::InstallList(ITreeNode* parent, const std::string& parent_key,
                                 IObjectList* list) {
  if (parent == nullptr) {
    root_ = list;
    return;
  }
  NodePtr copy = CloneNode(parent);
  if (!copy) throw CHResultException(E_OUTOFMEMORY);
  copy->SetChildList(list);
  index_[parent_key] = copy;
  PropagateUp(parent, copy);
}

void CTreeModelBase::SwapIn(ParentList& parent) {
  InstallList(parent.parent, parent.parent_key, parent.list);
}

void CTreeModelBase::PropagateUp(ITreeNode* old_node, ITreeNode* node) {
  NodePtr previous(old_node);
  NodePtr current(node);
  // A proper tree ends at the top within kMaxTreeDepth levels.
  for (size_t level = 0; level <= kMaxTreeDepth; ++level) {
    const ATL::CComBSTR parent_bstr = NodeParentId(current);
    std::u16string_view parent_id = IdText(parent_bstr);
    auto found = parent_id.empty() ? index_.end() : index_.find(IdKey(parent_id));
    if (found == index_.end()) {
      ListPtr copy = CloneList(root_);
      if (!copy) return;
      ReplaceIdentity(copy, previous, current);
      root_ = copy;
      return;
    }
    NodePtr parent = found->second;
    ListPtr copy = CloneList(Children(parent));
    NodePtr parent_copy = CloneNode(parent);
    if (!copy || !parent_copy) return;
    ReplaceIdentity(copy, previous, current);
    parent_copy->SetChildList(copy);
    found->second = parent_copy;
    previous = parent;
    current = parent_copy;
  }
}

bool CTreeModelBase::CanMove(const IdIndex& index, const std::string& key, ITreeNode* node,
                             const std::string& new_parent_key, ITreeNode* new_parent) {
  size_t new_depth = 1;
  if (new_parent != nullptr) {
    if (new_parent_key == key) return false;
    // Up from the new parent: the node must not be one of its ancestors.
    NodePtr current(new_parent);
    while (true) {
      ++new_depth;
      if (new_depth > kMaxTreeDepth) return false;
      const ATL::CComBSTR parent_bstr = NodeParentId(current);
      std::u16string_view parent_id = IdText(parent_bstr);
      if (parent_id.empty()) break;
      std::string parent_key = IdKey(parent_id);
      if (parent_key == key) return false;
      auto found = index.find(parent_key);
      if (found == index.end()) break;
      current = found->second;
    }
  }
  // Deeper than now: the subtree's bottom must still fit.
  if (new_depth <= DepthOf(index, node)) return true;
  return new_depth - 1 + HeightOf(node, kMaxTreeDepth) <= kMaxTreeDepth;
}

HRESULT CTreeModelBase::Add(IBookmarkItem* item, BSTR id, BSTR parent_id, LONG position) {
  if (item == nullptr || IdText(id).empty()) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  std::string key = IdKey(IdText(id));
  if (InOwnTransaction()) return AddTxn(item, id, std::move(key), parent_id, position);
  return AddCommitted(item, id, std::move(key), parent_id, position);
}

HRESULT CTreeModelBase::AddCommitted(IBookmarkItem* item, BSTR id, std::string key, BSTR parent_id,
                                     LONG position) {
  if (index_.count(key) != 0) return E_FAIL;
  ParentList parent;
  if (!FindParentList(IdText(parent_id), &parent)) return E_FAIL;
  if (parent.parent && DepthOf(index_, parent.parent) + 1 > kMaxTreeDepth) return E_FAIL;
  NodePtr node;
  if (HRESULT created = NewNode(item, IdText(id), parent.parent, &node); FAILED(created)) {
    return created;
  }
  InsertByPosition(parent.list, node, position);
  SwapIn(parent);
  OnNodeStored(NodeId(node), node);
  return S_OK;
}

HRESULT CTreeModelBase::Remove(BSTR id) {
  if (IdText(id).empty()) return E_INVALIDARG;
  AwaitImport();
  base::CAutoLock guard(lock_);
  std::string key = IdKey(IdText(id));
  if (InOwnTransaction()) return RemoveTxn(key);
  return RemoveCommitted(key);
}

HRESULT CTreeModelBase::RemoveCommitted(const std::string& key) {
  auto found = index_.find(key);
  if (found == index_.end()) return E_FAIL;
  NodePtr node = found->second;
  ParentList parent;
  if (!FindParentList(IdText(NodeParentId(node)), &parent)) return E_FAIL;
  const int index = FindIdentity(parent.list, node);
  if (index < 0) return E_FAIL;
  parent.list->RemoveAt(static_cast<UINT>(index));
  SwapIn(parent);
  OnNodeRemoved(NodeId(node), node, 1);
  return S_OK;
}

HRESULT CTreeModelBase::RemoveMany(IObjectList* ids) {
  if (ids == nullptr) return E_INVALIDARG;
  const UINT count = Count(ids);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR id;
    if (SUCCEEDED(ids->GetStringAt(i, id.Receive()))) Remove(id);
  }
  return S_OK;
}

HRESULT CTreeModelBase::Update(BSTR id, IBookmarkItem* item) {
  AwaitImport();
  base::CAutoLock guard(lock_);
  std::string key = IdKey(IdText(id));
  if (InOwnTransaction()) return UpdateTxn(key, item);
  return UpdateCommitted(key, item);
}

HRESULT CTreeModelBase::UpdateCommitted(const std::string& key, IBookmarkItem* item) {
  auto found = index_.find(key);
  if (found == index_.end()) return E_FAIL;
  NodePtr node = found->second;
  ATL::CComPtr<IBookmarkItem> merged;
  if (HRESULT result = MergeItem(ItemOf(node), item, merged.Receive()); FAILED(result)) {
    return result;
  }
  ParentList parent;
  if (!FindParentList(IdText(NodeParentId(node)), &parent)) return E_FAIL;
  NodePtr copy = CloneNode(node);
  if (!copy) return E_OUTOFMEMORY;
  copy->SetItem(merged);
  if (!ReplaceIdentity(parent.list, node, copy)) return E_FAIL;
  SwapIn(parent);
  ATL::CComBSTR node_id = NodeId(node);
  OnNodeRemoved(node_id, node, 0);
  OnNodeStored(node_id, copy);
  return S_OK;
}

HRESULT CTreeModelBase::Move(BSTR id, BSTR new_parent_id, LONG position) {
  AwaitImport();
  base::CAutoLock guard(lock_);
  std::string key = IdKey(IdText(id));
  if (InOwnTransaction()) return MoveTxn(key, new_parent_id, position);
  return MoveCommitted(key, new_parent_id, position);
}

HRESULT CTreeModelBase::MoveCommitted(const std::string& key, BSTR new_parent_id, LONG position) {
  auto found = index_.find(key);
  if (found == index_.end()) return E_FAIL;
  NodePtr node = found->second;

  // Everything is checked before the node is detached, so a refused move loses nothing.
  std::string new_parent_key;
  NodePtr new_parent;
  if (!FindNewParent(index_, new_parent_id, &new_parent_key, &new_parent)) return E_FAIL;
  if (new_parent ? !Children(new_parent) : !root_) return E_FAIL;
  if (!CanMove(index_, key, node, new_parent_key, new_parent)) return E_FAIL;

  ParentList old_parent;
  if (!FindParentList(IdText(NodeParentId(node)), &old_parent)) return E_FAIL;
  const int index = FindIdentity(old_parent.list, node);
  if (index < 0) return E_FAIL;
  NodePtr moved = CloneNode(node);
  if (!moved) return E_OUTOFMEMORY;
  old_parent.list->RemoveAt(static_cast<UINT>(index));
  SwapIn(old_parent);

  ParentList target;
  if (!FindParentList(IdText(new_parent_id), &target)) {
    // Only a failed copy gets here: put the node back where it was.
    if (FindParentList(IdText(NodeParentId(node)), &old_parent)) {
      old_parent.list->InsertAt(static_cast<UINT>(index), IID_ITreeNode, node);
      SwapIn(old_parent);
    }
    return E_OUTOFMEMORY;
  }
  moved->SetParentId(target.parent ? NodeId(target.parent) : ToBstr(u""));
  InsertByPosition(target.list, moved, position);
  SwapIn(target);
  index_[key] = moved;
  return S_OK;
}

HRESULT CTreeModelBase::MoveMany(IObjectList* ids, BSTR new_parent_id, LONG position) {
  if (ids == nullptr) return E_INVALIDARG;
  const UINT count = Count(ids);
  for (UINT i = 0; i < count; ++i) {
    ATL::CComBSTR id;
    if (SUCCEEDED(ids->GetStringAt(i, id.Receive()))) Move(id, new_parent_id, position);
  }
  return S_OK;
}

HRESULT CTreeModelBase::SetRoot(IObjectList* root) {
  ListPtr new_root(root);
  if (root != nullptr) {
    std::vector<NodePtr> tops;
    for (UINT i = 0, count = Count(root); i < count; ++i) {
      if (NodePtr node = At(root, i)) tops.push_back(std::move(node));
    }
    if (!IsAcceptableTree(tops, u"", 0, nullptr)) return E_INVALIDARG;
  } else {
    new_root = NewList();
    if (!new_root) return E_OUTOFMEMORY;
  }
  base::CAutoLock guard(lock_);
  root_ = new_root;
  index_.clear();
  ClearItemIndex();
  VisitTreeToIndex(root, index_);
  return S_OK;
}

HRESULT CTreeModelBase::Sort(BSTR, IOVCompare*, LONG) { return E_NOTIMPL; }

HRESULT CTreeModelBase::AddSubTree(ITreeNode* node, BSTR parent_id, LONG position) {
  if (node == nullptr) return E_INVALIDARG;
  base::CAutoLock guard(lock_);
  ParentList parent;
  if (!FindParentList(IdText(parent_id), &parent)) return S_OK;
  const size_t depth = parent.parent ? DepthOf(index_, parent.parent) : 0;
  ATL::CComBSTR parent_own_id = parent.parent ? NodeId(parent.parent) : ToBstr(u"");
  if (!IsAcceptableTree({NodePtr(node)}, IdText(parent_own_id), depth, &index_)) {
    return E_INVALIDARG;
  }
  ListPtr added = NewList();
  if (!added) return E_OUTOFMEMORY;
  added->Append(IID_ITreeNode, node);
  InsertByPosition(parent.list, node, position);
  SwapIn(parent);
  VisitTreeToIndex(added, index_);
  return S_OK;
}

HRESULT CTreeModelBase::IsImportFailed(ULONG*) { return E_NOTIMPL; }

void CTreeModelBase::OnNodeStored(BSTR id, ITreeNode* node) {
  if (node != nullptr) {
    index_[IdKey(IdText(id))] = node;
    if (ATL::CComPtr<IBookmarkItem> item = ItemOf(node)) OnItemIndexed(id, item);
  }
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(std::u16string(IdText(id)), node, 0);
}

void CTreeModelBase::Unindex(BSTR id) {
  auto found = index_.find(IdKey(IdText(id)));
  if (found == index_.end()) return;
  NodePtr removed = std::move(found->second);
  index_.erase(found);
  if (ATL::CComPtr<IBookmarkItem> item = ItemOf(removed)) OnItemUnindexed(id, item);
}

void CTreeModelBase::OnNodeRemoved(BSTR id, ITreeNode* node, int with_descendants) {
  if (node != nullptr) {
    Unindex(id);
    if (with_descendants) {
      for (const ATL::CComBSTR& descendant : DescendantIds(node)) Unindex(descendant);
    }
  }
  if (CStorageSyncBase* sync = synchroniser()) sync->RecordRemove(std::u16string(IdText(id)), 0);
}

// ---------------------------------------------------------------------------------------------
// Transactions.

HRESULT CTreeModelBase::BeginTransaction() {
  AwaitImport();
  base::CAutoLock guard(lock_);
  if (in_transaction_ || !root_) return E_FAIL;
  ListPtr working = CloneList(root_);
  if (!working) return E_OUTOFMEMORY;
  transaction_index_ = index_;
  copied_.clear();
  working_root_ = working;
  working_root_published_ = false;
  in_transaction_ = true;
  transaction_owner_ = GetCurrentThreadId();
  return S_OK;
}

HRESULT CTreeModelBase::EndTransaction(LONG commit) {
  AwaitImport();
  base::CAutoLock guard(lock_);
  if (!in_transaction_) return E_FAIL;
  if (transaction_owner_ != GetCurrentThreadId()) return S_OK;
  in_transaction_ = false;
  transaction_owner_ = 0;
  if (commit) {
    root_ = working_root_;
    index_.clear();
    ClearItemIndex();
    VisitTreeToIndex(root_, index_);
    if (CStorageSyncBase* sync = synchroniser()) sync->RecordSet(kCommitChangeKey, nullptr, 0);
  }
  working_root_.Release();
  transaction_index_.clear();
  copied_.clear();
  return S_OK;
}

void CTreeModelBase::PublishWorkingTree() {
  if (!InOwnTransaction()) return;
  copied_.clear();
  working_root_published_ = true;
}

IObjectList* CTreeModelBase::OwnWorkingRoot() {
  if (working_root_published_) {
    ListPtr copy = CloneList(working_root_);
    if (!copy) throw CHResultException(E_OUTOFMEMORY);
    working_root_ = copy;
    working_root_published_ = false;
  }
  return working_root_;
}

bool CTreeModelBase::FindParentListTxn(std::u16string_view parent_id, ParentList* out) {
  out->parent.Release();
  out->parent_key.clear();
  if (parent_id.empty()) {
    out->list = OwnWorkingRoot();
    return static_cast<bool>(out->list);
  }
  std::string key = IdKey(parent_id);
  auto found = transaction_index_.find(key);
  if (found == transaction_index_.end()) return false;
  NodePtr parent = found->second;
  if (copied_.count(key) != 0) {
    out->list = Children(parent);
  } else {
    ListPtr children = Children(parent);
    ListPtr copy = children ? CloneList(children) : NewList();
    NodePtr parent_copy = CloneNode(parent);
    if (!copy || !parent_copy) return false;
    parent_copy->SetChildList(copy);
    found->second = parent_copy;
    copied_.insert(key);
    PropagateUpTxn(parent, parent_copy);
    out->list = copy;
    parent = parent_copy;
  }
  out->parent = parent;
  out->parent_key = std::move(key);
  return static_cast<bool>(out->list);
}

void CTreeModelBase::PropagateUpTxn(ITreeNode* old_node, ITreeNode* node) {
  NodePtr previous(old_node);
  NodePtr current(node);
  for (size_t level = 0; level <= kMaxTreeDepth; ++level) {
    const ATL::CComBSTR parent_bstr = NodeParentId(current);
    std::u16string_view parent_id = IdText(parent_bstr);
    std::string parent_key = parent_id.empty() ? std::string() : IdKey(parent_id);
    auto found = parent_id.empty() ? transaction_index_.end() : transaction_index_.find(parent_key);
    if (found == transaction_index_.end()) {
      ReplaceIdentity(OwnWorkingRoot(), previous, current);
      return;
    }
    NodePtr parent = found->second;
    ListPtr children = Children(parent);
    if (!children) return;
    if (copied_.count(parent_key) != 0) {
      ReplaceIdentity(children, previous, current);
      return;
    }
    ListPtr copy = CloneList(children);
    NodePtr parent_copy = CloneNode(parent);
    if (!copy || !parent_copy) return;
    ReplaceIdentity(copy, previous, current);
    parent_copy->SetChildList(copy);
    found->second = parent_copy;
    copied_.insert(parent_key);
    previous = parent;
    current = parent_copy;
  }
}

ATL::CComPtr<ITreeNode> CTreeModelBase::MakePrivate(const std::string& key, ITreeNode* node) {
  if (copied_.count(key) != 0) return NodePtr(node);
  NodePtr copy = CloneNode(node);
  ListPtr children = Children(node);
  ListPtr children_copy = children ? CloneList(children) : NewList();
  if (!copy || !children_copy) throw CHResultException(E_OUTOFMEMORY);
  copy->SetChildList(children_copy);
  transaction_index_[key] = copy;
  copied_.insert(key);
  return copy;
}

HRESULT CTreeModelBase::AddTxn(IBookmarkItem* item, BSTR id, std::string key, BSTR parent_id,
                               LONG position) {
  if (transaction_index_.count(key) != 0) return E_FAIL;
  ParentList parent;
  if (!FindParentListTxn(IdText(parent_id), &parent)) return E_FAIL;
  if (parent.parent && DepthOf(transaction_index_, parent.parent) + 1 > kMaxTreeDepth) {
    return E_FAIL;
  }
  NodePtr node;
  if (HRESULT created = NewNode(item, IdText(id), parent.parent, &node); FAILED(created)) {
    return created;
  }
  InsertByPosition(parent.list, node, position);
  transaction_index_[key] = node;
  copied_.insert(std::move(key));
  return S_OK;
}

HRESULT CTreeModelBase::RemoveTxn(const std::string& key) {
  auto found = transaction_index_.find(key);
  if (found == transaction_index_.end()) return E_FAIL;
  NodePtr node = found->second;
  ParentList parent;
  if (!FindParentListTxn(IdText(NodeParentId(node)), &parent)) return E_FAIL;
  const int index = FindIdentity(parent.list, node);
  if (index < 0) return E_FAIL;
  parent.list->RemoveAt(static_cast<UINT>(index));
  // The subtree leaves the transaction's view with its root.
  transaction_index_.erase(key);
  for (const ATL::CComBSTR& descendant : DescendantIds(node)) {
    transaction_index_.erase(IdKey(IdText(descendant)));
  }
  return S_OK;
}

HRESULT CTreeModelBase::UpdateTxn(const std::string& key, IBookmarkItem* item) {
  auto found = transaction_index_.find(key);
  if (found == transaction_index_.end()) return E_FAIL;
  NodePtr node = found->second;
  // The same merge as outside: the tree never holds the caller's object.
  ATL::CComPtr<IBookmarkItem> merged;
  if (HRESULT result = MergeItem(ItemOf(node), item, merged.Receive()); FAILED(result)) {
    return result;
  }
  ParentList parent;
  if (!FindParentListTxn(IdText(NodeParentId(node)), &parent)) return E_FAIL;
  if (FindIdentity(parent.list, node) < 0) return E_FAIL;
  NodePtr own = MakePrivate(key, node);
  own->SetItem(merged);
  if (own.get() != node.get()) ReplaceIdentity(parent.list, node, own);
  return S_OK;
}

HRESULT CTreeModelBase::MoveTxn(const std::string& key, BSTR new_parent_id, LONG position) {
  auto found = transaction_index_.find(key);
  if (found == transaction_index_.end()) return E_FAIL;
  NodePtr node = found->second;

  std::string new_parent_key;
  NodePtr new_parent;
  if (!FindNewParent(transaction_index_, new_parent_id, &new_parent_key, &new_parent)) {
    return E_FAIL;
  }
  if (!CanMove(transaction_index_, key, node, new_parent_key, new_parent)) return E_FAIL;

  ParentList old_parent;
  if (!FindParentListTxn(IdText(NodeParentId(node)), &old_parent)) return E_FAIL;
  const int index = FindIdentity(old_parent.list, node);
  if (index < 0) return E_FAIL;
  ParentList target;
  if (!FindParentListTxn(IdText(new_parent_id), &target)) return E_FAIL;
  // The lists are the transaction's own from here on: nothing can fail between detaching and
  // attaching.
  old_parent.list->RemoveAt(static_cast<UINT>(index));
  NodePtr own = MakePrivate(key, node);
  own->SetParentId(target.parent ? NodeId(target.parent) : ToBstr(u""));
  InsertByPosition(target.list, own, position);
  return S_OK;
}

}  // namespace Storage
