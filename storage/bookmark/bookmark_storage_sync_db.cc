#include "storage/bookmark/bookmark_storage_sync_db.h"

#include <exception>
#include <map>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "base/trace.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/result_codes.h"
#include "storage/bookmark/bookmark_tree_model.h"

namespace Storage {
namespace {

using NodePtr = ATL::CComPtr<ITreeNode>;
using ListPtr = ATL::CComPtr<IObjectList>;
using ItemPtr = ATL::CComPtr<IBookmarkItem>;

ListPtr NewList() {
  ListPtr list;
  Util::Com::CreateObjectByIID(IID_IObjectList, list.ReceiveVoid());
  return list;
}

UINT Count(IObjectList* list) {
  UINT count = 0;
  if (list != nullptr) list->Count(&count);
  return count;
}

ListPtr Children(ITreeNode* node) {
  ListPtr list;
  node->GetChildList(list.Receive());
  return list;
}

ATL::CComBSTR NodeId(ITreeNode* node) {
  ATL::CComBSTR id;
  node->GetId(id.Receive());
  return id;
}

// A node of the tree being built, by identifier key. A stand-in is a parent named by a row
// that has not been read (yet).
struct IndexEntry {
  NodePtr node;
  bool stand_in = false;
};
using BuildIndex = std::map<std::string, IndexEntry>;

// A stand-in for the parent `id`: a new item and node of that identifier with an empty child
// list.
HRESULT NewStandIn(BSTR id, NodePtr* out) {
  ItemPtr item;
  NodePtr node;
  ListPtr children = NewList();
  if (FAILED(Util::Com::CreateObjectByIID(IID_IBookmarkItem, item.ReceiveVoid())) || !item ||
      FAILED(Util::Com::CreateObjectByIID(IID_ITreeNode, node.ReceiveVoid())) || !node ||
      !children) {
    return E_OUTOFMEMORY;
  }
  item->SetId(id);
  node->SetItem(item);
  node->SetId(id);
  node->SetChildList(children);
  *out = std::move(node);
  return S_OK;
}

// Cuts the tree below `root` at kMaxTreeDepth levels and empties the child lists of every
// node of `index` that is not in the tree: the nodes of a parent cycle hold each other, and
// would never be freed otherwise.
void Prune(IObjectList* root, const BuildIndex& index) {
  struct Pending {
    NodePtr node;
    size_t depth;
  };
  std::unordered_set<ITreeNode*> reached;
  std::vector<Pending> stack;
  for (UINT i = Count(root); i > 0; --i) {
    NodePtr node;
    if (SUCCEEDED(root->GetAt(i - 1, IID_ITreeNode, node.ReceiveVoid())) && node) {
      stack.push_back({std::move(node), 1});
    }
  }
  size_t cut = 0;
  while (!stack.empty()) {
    Pending current = std::move(stack.back());
    stack.pop_back();
    if (!reached.insert(current.node.get()).second) continue;
    ListPtr children = Children(current.node);
    const UINT count = Count(children);
    if (count == 0) continue;
    if (current.depth >= kMaxTreeDepth) {
      ++cut;
      current.node->SetChildList(NewList());
      continue;
    }
    for (UINT i = count; i > 0; --i) {
      NodePtr child;
      if (SUCCEEDED(children->GetAt(i - 1, IID_ITreeNode, child.ReceiveVoid())) && child) {
        stack.push_back({std::move(child), current.depth + 1});
      }
    }
  }
  if (cut != 0) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"bookmark rows deeper than %u levels left out below %u rows",
              static_cast<unsigned>(kMaxTreeDepth), static_cast<unsigned>(cut));
  }
  size_t unreachable = 0;
  for (const auto& [key, entry] : index) {
    if (reached.count(entry.node.get()) != 0) continue;
    if (!entry.stand_in) ++unreachable;
    entry.node->SetChildList(nullptr);
  }
  if (unreachable != 0) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"%u bookmark rows not reachable from the top level",
              static_cast<unsigned>(unreachable));
  }
}

HRESULT BuildTree(IObjectList* items, ListPtr* out) {
  ListPtr root = NewList();
  if (!root) return E_OUTOFMEMORY;
  BuildIndex index;
  size_t nameless = 0;
  size_t repeated = 0;
  for (UINT i = 0, count = Count(items); i < count; ++i) {
    ItemPtr item;
    if (FAILED(items->GetAt(i, IID_IBookmarkItem, item.ReceiveVoid())) || !item) continue;
    ATL::CComBSTR id;
    ATL::CComBSTR parent_id;
    item->GetId(id.Receive());
    item->GetParentId(parent_id.Receive());
    const std::u16string_view id_text = CTreeModelBase::IdText(id);
    if (id_text.empty()) {
      ++nameless;
      continue;
    }
    std::string key = CTreeModelBase::IdKey(id_text);
    NodePtr node;
    if (auto found = index.find(key); found != index.end()) {
      if (!found->second.stand_in) {
        ++repeated;
        continue;
      }
      // The stand-in keeps its identifier, which its children name already.
      node = found->second.node;
      node->SetItem(item);
      found->second.stand_in = false;
    } else {
      ListPtr children = NewList();
      if (FAILED(CBookmarkStorageSyncDB::CreateNodeFromRow(item, node.Receive())) || !node ||
          !children) {
        return E_OUTOFMEMORY;
      }
      node->SetChildList(children);
      index.emplace(std::move(key), IndexEntry{node, false});
    }

    const std::u16string_view parent_text = CTreeModelBase::IdText(parent_id);
    if (parent_text.empty()) {
      node->SetParentId(ATL::CComBSTR(u""));
      root->Append(IID_ITreeNode, node);
      continue;
    }
    std::string parent_key = CTreeModelBase::IdKey(parent_text);
    auto parent = index.find(parent_key);
    if (parent == index.end()) {
      NodePtr stand_in;
      if (HRESULT hr = NewStandIn(parent_id, &stand_in); FAILED(hr)) return hr;
      parent = index.emplace(std::move(parent_key), IndexEntry{stand_in, true}).first;
    }
    // The parent's own spelling: identifiers that collate alike may differ in their code units.
    node->SetParentId(NodeId(parent->second.node));
    if (ListPtr siblings = Children(parent->second.node)) siblings->Append(IID_ITreeNode, node);
  }
  if (nameless != 0) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"%u bookmark rows without an identifier skipped", static_cast<unsigned>(nameless));
  }
  if (repeated != 0) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"%u bookmark rows skipped: their identifier was read before",
              static_cast<unsigned>(repeated));
  }
  Prune(root, index);
  *out = std::move(root);
  return S_OK;
}

}  // namespace

CBookmarkStorageSyncDB::CBookmarkStorageSyncDB(std::u16string file_path, CBookmarkTreeModel* model,
                                               CStorageSyncManager* sync_manager,
                                               CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      model_(model) {}

CBookmarkStorageSyncDB::~CBookmarkStorageSyncDB() {
  if (connection_) connection_->Close();
  connection_.Release();
  statement_.Release();
}

bool CBookmarkStorageSyncDB::prepareForDB(const std::u16string& path) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkStorageSyncDB::prepareForDB");
  if (connection_) return true;
  ATL::CComPtr<IDatabaseService> service;
  if (FAILED(Util::Com::GetService(IID_IDatabaseService, service.ReceiveVoid())) || !service) {
    return false;
  }
  std::string utf8;
  try {
    utf8 = base::WideToUTF8(path);
  } catch (const std::exception&) {  // allocation failures only
    return false;
  }
  const HRESULT opened = service->OpenDatabase(utf8.c_str(), connection_.Receive());
  if (FAILED(opened)) connection_.Release();
  return SUCCEEDED(opened) && connection_;
}

bool CBookmarkStorageSyncDB::PrepareBookmarkQuery() {
  if (statement_prepared_) return true;
  statement_.Release();
  const HRESULT prepared = connection_->Prepare(kBookmarkSelectSql, statement_.Receive());
  statement_prepared_ = SUCCEEDED(prepared) && statement_ ? 1 : 0;
  return statement_prepared_ != 0;
}

HRESULT CBookmarkStorageSyncDB::GetAllBookmarkItem(IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkStorageSyncDB::GetAllBookmarkItem");
  if (items == nullptr || !PrepareBookmarkQuery()) return E_FAIL;
  *items = nullptr;
  ListPtr list = NewList();
  if (!list) return E_OUTOFMEMORY;
  IDatabaseStatement* statement = statement_;
  BOOL row = FALSE;
  // A failing step ends the list: the rows read so far make the tree.
  while (SUCCEEDED(statement->Step(&row)) && row) {
    ATL::CComPtr<IBookmarkItemProperty> item;
    if (FAILED(Util::Com::CreateObjectByIID(IID_IBookmarkItemProperty, item.ReceiveVoid())) ||
        !item) {
      // Stepping on frees the engine's read lock at the end of the rows.
      base::Log(base::kLogLevelError, base::kLogCategoryNone, u"bookmark row not read: no item");
      continue;
    }
    const auto text = [statement](INT column) {
      ATL::CComBSTR value;
      statement->GetColumnText(column, value.Receive());
      return value;
    };
    const auto int64 = [statement](INT column) {
      LONGLONG value = 0;
      statement->GetColumnInt64(column, &value);
      return value;
    };
    const auto int32 = [statement](INT column) {
      INT value = 0;
      statement->GetColumnInt32(column, &value);
      return value;
    };
    item->SetId(text(kBookmarkColumnId));
    item->SetParentId(text(kBookmarkColumnParentId));
    item->SetTitle(text(kBookmarkColumnTitle));
    item->SetKind(int64(kBookmarkColumnKind));
    item->SetUrl(text(kBookmarkColumnUrl));
    item->SetNote(text(kBookmarkColumnNote));
    item->SetLastAccessTime(int64(kBookmarkColumnLastAccess));
    item->SetSortPosition(static_cast<LONGLONG>(int32(kBookmarkColumnSortPosition)));
    int32(kBookmarkColumnUnused);
    item->SetSystemDefault(static_cast<LONGLONG>(int32(kBookmarkColumnSystemDefault)));
    item->SetAccessCount(int32(kBookmarkColumnAccessCount));
    item->SetTimeAdded(int64(kBookmarkColumnTimeAdded));
    list->Append(IID_IBookmarkItem, static_cast<IBookmarkItem*>(item.get()));
  }
  *items = list.Detach();
  return S_OK;
}

HRESULT CBookmarkStorageSyncDB::CreateNodeFromRow(IBookmarkItem* item, ITreeNode** node) {
  if (item == nullptr || node == nullptr) return E_INVALIDARG;
  *node = nullptr;
  NodePtr created;
  if (FAILED(Util::Com::CreateObjectByIID(IID_ITreeNode, created.ReceiveVoid())) || !created) {
    return E_FAIL;
  }
  const HRESULT hr = created->SetItem(item);
  ATL::CComBSTR id;
  ATL::CComBSTR parent_id;
  item->GetId(id.Receive());
  item->GetParentId(parent_id.Receive());
  created->SetId(id);
  created->SetParentId(parent_id);
  *node = created.Detach();
  return hr;
}

HRESULT CBookmarkStorageSyncDB::BuildWholeTree(IObjectList* items, IObjectList** root) {
  if (root == nullptr) return E_INVALIDARG;
  *root = nullptr;
  try {
    ListPtr built;
    if (HRESULT hr = BuildTree(items, &built); FAILED(hr)) return hr;
    *root = built.Detach();
    return S_OK;
  } catch (const CHResultException& failure) {  // identifier keys: allocation failures only
    return failure.hr();
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CBookmarkStorageSyncDB::GetWholeTree(IObjectList** root) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkStorageSyncDB::GetWholeTree");
  ListPtr items;
  // Without the table (or its rows) the tree is empty.
  if (FAILED(GetAllBookmarkItem(items.Receive())) || !items) items = NewList();
  if (!items) return E_OUTOFMEMORY;
  return BuildWholeTree(items, root);
}

void CBookmarkStorageSyncDB::performImport() {
  {
    base::CPerformanceTrace trace(u"Storage::CBookmarkStorageSyncDB::performImport");
    base::CAutoLock guard(lock_);
    if (model_ != nullptr && prepareForDB(file_path_)) {
      ListPtr root;
      if (HRESULT hr = GetWholeTree(root.Receive()); FAILED(hr)) {
        base::Log(base::kLogLevelError, base::kLogCategoryNone,
                  u"bookmark tree not built (hr=0x%X): %s", static_cast<unsigned>(hr),
                  file_path_.c_str());
      } else if (HRESULT set = model_->SetRoot(root); FAILED(set)) {
        base::Log(base::kLogLevelError, base::kLogCategoryNone,
                  u"bookmark tree refused (hr=0x%X): %s", static_cast<unsigned>(set),
                  file_path_.c_str());
      }
    }
  }
  // On every path: the model's callers wait for it.
  SetImported();
}

void CBookmarkStorageSyncDB::performSync() {
  base::CPerformanceTrace trace(u"Storage::CBookmarkStorageSyncDB::performSync");
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (model_ == nullptr) return;
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty()) {
    StopTimer();
    return;
  }
  if (!connection_) return;
  // Nothing of the changes is written: the transaction stays empty.
  connection_->BeginTransaction();
  for (const PendingChange& change : changes) {
    if (change.op == kChangeOpSet) PrepareBookmarkQuery();
  }
  connection_->CommitTransaction();
}

int CBookmarkStorageSyncDB::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CBookmarkStorageSyncDB::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    model_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
