// CTreeNode: the factory's ITreeNode, a shallow holder of an item, a child list and two
// identifiers.
//
// Thread safety: lock_ guards the fields. Held objects are AddRef'ed under it and released
// only after it is released.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CTreeNode : public ITreeNode, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CTreeNode)
  COM_INTERFACE_ENTRY(ITreeNode)
  END_COM_MAP()

  CTreeNode() = default;
  CTreeNode(const CTreeNode&) = delete;
  CTreeNode& operator=(const CTreeNode&) = delete;

  STDMETHODIMP Clone(ITreeNode** out) override;
  STDMETHODIMP GetItem(IBookmarkItem** out) override;
  STDMETHODIMP SetItem(IBookmarkItem* item) override;
  STDMETHODIMP SetChildList(IObjectList* list) override;
  STDMETHODIMP GetChildList(IObjectList** out) override;
  STDMETHODIMP GetParentId(BSTR* out) override;
  STDMETHODIMP SetParentId(BSTR id) override;
  STDMETHODIMP GetId(BSTR* out) override;
  STDMETHODIMP SetId(BSTR id) override;

 private:
  struct Fields {
    ATL::CComPtr<IBookmarkItem> item;
    ATL::CComPtr<IObjectList> child_list;
    std::u16string id;
    std::u16string parent_id;
  };

  HRESULT GetString(std::u16string Fields::*field, BSTR* out);
  HRESULT SetString(std::u16string Fields::*field, BSTR text);

  base::CLock lock_;
  Fields fields_ GUARDED_BY(lock_);
};

}  // namespace Util
