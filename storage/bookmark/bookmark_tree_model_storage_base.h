// Storage::CBookmarkTreeModelStorageBase: the bookmark storage COM object
// (IBookmarkTreeModelStorage, IStorageInfo; contracts in browserstorage/bookmark_storage.h). It
// holds no data: every call goes to the attached bookmark model.
//
// Thread safety: any thread. `lock_` guards only the model reference: each call takes its own
// reference under it and works without it, so Detach never waits for a call and a call in
// progress keeps the model it started with.
#pragma once

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/bookmark_storage.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/sync/storage_base.h"

namespace Storage {

class CBookmarkTreeModelStorageBase : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                                      public IBookmarkTreeModelStorage,
                                      public CStorageBase,
                                      public IStorageInfo {
 public:
  BEGIN_COM_MAP(CBookmarkTreeModelStorageBase)
  COM_INTERFACE_ENTRY(IBookmarkTreeModelStorage)
  COM_INTERFACE_ENTRY(IStorageInfo)
  END_COM_MAP()

  CBookmarkTreeModelStorageBase() = default;
  CBookmarkTreeModelStorageBase(const CBookmarkTreeModelStorageBase&) = delete;
  CBookmarkTreeModelStorageBase& operator=(const CBookmarkTreeModelStorageBase&) = delete;

  // IBookmarkTreeModelStorage.
  STDMETHODIMP GetRoot(IObjectList** root) override;
  STDMETHODIMP SetRoot(IObjectList* root) override;
  STDMETHODIMP RemoveTree() override;
  STDMETHODIMP GetCount(ULONG* count) override;
  STDMETHODIMP GetAllIds(IObjectList** ids) override;
  STDMETHODIMP GetSubtreeIds(BSTR id, IObjectList** ids) override;
  STDMETHODIMP GetAllItems(IObjectList** items) override;
  STDMETHODIMP GetItem(BSTR id, IBookmarkItem** item) override;
  STDMETHODIMP GetChildren(BSTR id, IObjectList** list) override;
  STDMETHODIMP Add(IBookmarkItem* item, BSTR parent_id, LONG position) override;
  STDMETHODIMP Remove(BSTR id) override;
  STDMETHODIMP RemoveMany(IObjectList* ids) override;
  STDMETHODIMP Update(IBookmarkItem* item) override;
  STDMETHODIMP Move(BSTR id, BSTR new_parent_id, LONG position) override;
  STDMETHODIMP MoveMany(IObjectList* ids, BSTR new_parent_id, LONG position) override;
  STDMETHODIMP Sort(BSTR parent_id, LONG sort_type, BOOL descending) override;
  STDMETHODIMP Search(BSTR text, LONG limit, IObjectList** items) override;
  STDMETHODIMP SearchByURLPrefix(BSTR text, LONG maximum, IObjectList** items) override;
  STDMETHODIMP SearchByName(BSTR text, LONG limit, IObjectList** items) override;
  STDMETHODIMP GetBookmarksByURL(BSTR url, IObjectList** items) override;
  STDMETHODIMP IsBookmarkByURL(BSTR url, BOOL* is_bookmark) override;
  STDMETHODIMP CloneTree(IObjectList** root) override;
  STDMETHODIMP AddSubTree(ITreeNode* node, BSTR parent_id, LONG position) override;
  STDMETHODIMP BeginTransaction() override;
  STDMETHODIMP EndTransaction(BOOL commit) override;
  // Behind IBookmarkTreeModelStorage's slots.
  virtual ~CBookmarkTreeModelStorageBase() = default;

  // CStorageBase. `structure` must be a bookmark model; `config` is not needed.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) override;
  HRESULT Detach() override;

  // IStorageInfo.
  STDMETHODIMP IsImportFailed(ULONG* failed) override;
  STDMETHODIMP IsImportFinished(ULONG* finished) override;

 private:
  base::scoped_refptr<CBookmarkTreeModel> model();

  base::CLock lock_;
  base::scoped_refptr<CBookmarkTreeModel> model_ GUARDED_BY(lock_);
};

}  // namespace Storage
