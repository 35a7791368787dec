#include "storage/bookmark/bookmark_tree_model_storage_base.h"

#include <utility>

#include "base/trace.h"
#include "browserstorage/result_codes.h"
#include "storage/bookmark/bookmark_comparers.h"

namespace Storage {

base::scoped_refptr<CBookmarkTreeModel> CBookmarkTreeModelStorageBase::model() {
  base::CAutoLock guard(lock_);
  return model_;
}

HRESULT CBookmarkTreeModelStorageBase::Attach(CStorageConfigBase*,
                                              CStorageInMemStructure* structure) {
  auto* model = dynamic_cast<CBookmarkTreeModel*>(structure);
  if (model == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CBookmarkTreeModel> attached(model);
  base::CAutoLock guard(lock_);
  std::swap(model_, attached);  // the previous model goes after the lock is released
  return S_OK;
}

HRESULT CBookmarkTreeModelStorageBase::Detach() {
  base::scoped_refptr<CBookmarkTreeModel> detached;
  {
    base::CAutoLock guard(lock_);
    std::swap(model_, detached);
  }
  return S_OK;
}

// Every call: E_FAIL once detached, otherwise the model's answer.
#define BOOKMARK_FORWARD(call)                                   \
  base::scoped_refptr<CBookmarkTreeModel> model = this->model(); \
  if (!model) return E_FAIL;                                     \
  return model->call

HRESULT CBookmarkTreeModelStorageBase::GetRoot(IObjectList** root) {
  BOOKMARK_FORWARD(GetRoot(root));
}

HRESULT CBookmarkTreeModelStorageBase::SetRoot(IObjectList* root) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::SetRoot");
  BOOKMARK_FORWARD(SetRoot(root));
}

HRESULT CBookmarkTreeModelStorageBase::RemoveTree() {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::RemoveTree");
  BOOKMARK_FORWARD(SetRoot(nullptr));
}

HRESULT CBookmarkTreeModelStorageBase::GetCount(ULONG* count) { BOOKMARK_FORWARD(GetCount(count)); }

HRESULT CBookmarkTreeModelStorageBase::GetAllIds(IObjectList** ids) {
  BOOKMARK_FORWARD(GetAllIds(ids));
}

HRESULT CBookmarkTreeModelStorageBase::GetSubtreeIds(BSTR id, IObjectList** ids) {
  BOOKMARK_FORWARD(GetSubtreeIds(id, ids));
}

HRESULT CBookmarkTreeModelStorageBase::GetAllItems(IObjectList** items) {
  BOOKMARK_FORWARD(GetAllItems(items));
}

HRESULT CBookmarkTreeModelStorageBase::GetItem(BSTR id, IBookmarkItem** item) {
  if (item == nullptr) return E_FAIL;
  base::scoped_refptr<CBookmarkTreeModel> model = this->model();
  if (!model) return E_FAIL;
  ATL::CComPtr<IBookmarkItem> found;
  if (FAILED(model->GetItem(id, found.Receive())) || !found) return E_FAIL;
  return found->QueryInterface(IID_IBookmarkItem, reinterpret_cast<void**>(item)) == S_OK ? S_OK
                                                                                          : E_FAIL;
}

HRESULT CBookmarkTreeModelStorageBase::GetChildren(BSTR id, IObjectList** list) {
  BOOKMARK_FORWARD(GetChildren(id, list));
}

HRESULT CBookmarkTreeModelStorageBase::Add(IBookmarkItem* item, BSTR parent_id, LONG position) {
  if (item == nullptr) return E_FAIL;
  base::scoped_refptr<CBookmarkTreeModel> model = this->model();
  if (!model) return E_FAIL;
  ATL::CComPtr<IBookmarkItemProperty> face;
  if (FAILED(item->QueryInterface(IID_IBookmarkItemProperty, face.ReceiveVoid())) || !face) {
    return E_FAIL;
  }
  ATL::CComBSTR id;
  item->GetId(id.Receive());
  // The tree keeps its own copy, never the caller's object.
  ATL::CComPtr<IBookmarkItem> copy;
  if (FAILED(face->Copy(copy.Receive())) || !copy) return E_FAIL;
  return model->Add(copy, id, parent_id, position);
}

HRESULT CBookmarkTreeModelStorageBase::Remove(BSTR id) { BOOKMARK_FORWARD(Remove(id)); }

HRESULT CBookmarkTreeModelStorageBase::RemoveMany(IObjectList* ids) {
  BOOKMARK_FORWARD(RemoveMany(ids));
}

HRESULT CBookmarkTreeModelStorageBase::Update(IBookmarkItem* item) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::Update");
  if (item == nullptr) return E_FAIL;
  base::scoped_refptr<CBookmarkTreeModel> model = this->model();
  if (!model) return E_FAIL;
  ATL::CComBSTR id;
  item->GetId(id.Receive());
  return model->Update(id, item);
}

HRESULT CBookmarkTreeModelStorageBase::Move(BSTR id, BSTR new_parent_id, LONG position) {
  BOOKMARK_FORWARD(Move(id, new_parent_id, position));
}

HRESULT CBookmarkTreeModelStorageBase::MoveMany(IObjectList* ids, BSTR new_parent_id,
                                                LONG position) {
  BOOKMARK_FORWARD(MoveMany(ids, new_parent_id, position));
}

HRESULT CBookmarkTreeModelStorageBase::Sort(BSTR parent_id, LONG sort_type, BOOL descending) {
  base::scoped_refptr<CBookmarkTreeModel> model = this->model();
  if (!model) return E_FAIL;
  ATL::CComPtr<IOVCompare> comparer;
  if (sort_type == kBookmarkSortByName) {
    comparer = NewComparer<CBookmarkNameComparer>();
  } else if (sort_type == kBookmarkSortByTime) {
    comparer = NewComparer<CBookmarkTimeComparer>();
  }
  if (!comparer) return E_FAIL;
  return model->Sort(parent_id, comparer, descending);
}

HRESULT CBookmarkTreeModelStorageBase::Search(BSTR text, LONG limit, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::Search");
  BOOKMARK_FORWARD(Search(text, limit, items));
}

HRESULT CBookmarkTreeModelStorageBase::SearchByURLPrefix(BSTR text, LONG maximum,
                                                         IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::SearchByURLPrefix");
  BOOKMARK_FORWARD(SearchByURLPrefix(text, maximum, items));
}

HRESULT CBookmarkTreeModelStorageBase::SearchByName(BSTR text, LONG limit, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::SearchByName");
  BOOKMARK_FORWARD(SearchByName(text, limit, items));
}

HRESULT CBookmarkTreeModelStorageBase::GetBookmarksByURL(BSTR url, IObjectList** items) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::GetBookmarksByURL");
  BOOKMARK_FORWARD(GetBookmarksByURL(url, items));
}

HRESULT CBookmarkTreeModelStorageBase::IsBookmarkByURL(BSTR url, BOOL* is_bookmark) {
  BOOKMARK_FORWARD(IsBookmarkByURL(url, is_bookmark));
}

HRESULT CBookmarkTreeModelStorageBase::CloneTree(IObjectList** root) {
  BOOKMARK_FORWARD(CloneTree(root));
}

HRESULT CBookmarkTreeModelStorageBase::AddSubTree(ITreeNode* node, BSTR parent_id, LONG position) {
  base::CPerformanceTrace trace(u"Storage::CBookmarkTreeModelStorageBase::AddSubTree");
  BOOKMARK_FORWARD(AddSubTree(node, parent_id, position));
}

HRESULT CBookmarkTreeModelStorageBase::BeginTransaction() { BOOKMARK_FORWARD(BeginTransaction()); }

HRESULT CBookmarkTreeModelStorageBase::EndTransaction(BOOL commit) {
  BOOKMARK_FORWARD(EndTransaction(commit));
}

HRESULT CBookmarkTreeModelStorageBase::IsImportFailed(ULONG* failed) {
  if (failed == nullptr) return E_STORAGE_INVALIDARG;
  BOOKMARK_FORWARD(IsImportFailed(failed));
}

HRESULT CBookmarkTreeModelStorageBase::IsImportFinished(ULONG* finished) {
  if (finished == nullptr) return E_STORAGE_INVALIDARG;
  BOOKMARK_FORWARD(IsImportFinished(finished));
}

#undef BOOKMARK_FORWARD

}  // namespace Storage
