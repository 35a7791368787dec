#include "external/tree_node.h"

#include <exception>
#include <utility>

#include "external/bstr_copy.h"
#include "external/new_object.h"

namespace Util {

HRESULT CTreeNode::GetString(std::u16string Fields::*field, BSTR* out) {
  return CopyStringOut(&lock_, &(fields_.*field), out);
}

HRESULT CTreeNode::SetString(std::u16string Fields::*field, BSTR text) {
  return ReplaceString(&lock_, &(fields_.*field), text);
}

STDMETHODIMP CTreeNode::Clone(ITreeNode** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ATL::CComPtr<ATL::CComObject<CTreeNode>> clone;
  HRESULT hr = NewObject(&clone);
  if (FAILED(hr)) return hr;
  Fields copy;
  try {
    base::CAutoLock lock(lock_);
    copy = fields_;
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  {
    base::CAutoLock lock(clone->lock_);
    std::swap(clone->fields_, copy);
  }
  *out = clone.Detach();
  return S_OK;
}

STDMETHODIMP CTreeNode::GetItem(IBookmarkItem** out) {
  if (out == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  return fields_.item.CopyTo(out);
}

STDMETHODIMP CTreeNode::SetItem(IBookmarkItem* item) {
  ATL::CComPtr<IBookmarkItem> incoming(item);  // the previous item is released through it
  base::CAutoLock lock(lock_);
  fields_.item.Swap(incoming);
  return S_OK;
}

STDMETHODIMP CTreeNode::SetChildList(IObjectList* list) {
  ATL::CComPtr<IObjectList> incoming(list);  // the previous list is released through it
  base::CAutoLock lock(lock_);
  fields_.child_list.Swap(incoming);
  return S_OK;
}

STDMETHODIMP CTreeNode::GetChildList(IObjectList** out) {
  if (out == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  return fields_.child_list.CopyTo(out);
}

STDMETHODIMP CTreeNode::GetParentId(BSTR* out) { return GetString(&Fields::parent_id, out); }

STDMETHODIMP CTreeNode::SetParentId(BSTR id) { return SetString(&Fields::parent_id, id); }

STDMETHODIMP CTreeNode::GetId(BSTR* out) { return GetString(&Fields::id, out); }

STDMETHODIMP CTreeNode::SetId(BSTR id) { return SetString(&Fields::id, id); }

}  // namespace Util
