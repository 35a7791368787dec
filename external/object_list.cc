#include "external/object_list.h"

#include <exception>
#include <utility>

#include "external/bstr_copy.h"
#include "external/new_object.h"

namespace Util {

HRESULT CObjectList::Insert(std::optional<UINT> index, Element* element) {
  base::CAutoLock lock(lock_);
  const size_t position = index.value_or(elements_.size());
  if (position > elements_.size()) return E_INVALIDARG;
  try {
    elements_.insert(elements_.begin() + position, std::move(*element));
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CObjectList::Clone(IObjectList** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ATL::CComPtr<ATL::CComObject<CObjectList>> clone;
  HRESULT hr = NewObject(&clone);
  if (FAILED(hr)) return hr;
  std::vector<Element> copy;
  try {
    base::CAutoLock lock(lock_);
    copy = elements_;
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  {
    base::CAutoLock lock(clone->lock_);
    clone->elements_.swap(copy);
  }
  *out = clone.Detach();
  return S_OK;
}

STDMETHODIMP CObjectList::Count(UINT* count) {
  if (count == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *count = static_cast<UINT>(elements_.size());
  return S_OK;
}

STDMETHODIMP CObjectList::GetStringAt(UINT index, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  base::CAutoLock lock(lock_);
  if (index >= elements_.size() || elements_[index].object) return E_INVALIDARG;
  return NewBstr(elements_[index].text, out);
}

STDMETHODIMP CObjectList::AppendString(BSTR text) {
  Element element;
  HRESULT hr = ReadBstr(text, &element.text);
  if (FAILED(hr)) return hr;
  return Insert(std::nullopt, &element);
}

STDMETHODIMP CObjectList::GetAt(UINT index, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ATL::CComPtr<IUnknown> object;
  IID stored_iid;
  {
    base::CAutoLock lock(lock_);
    if (index >= elements_.size() || !elements_[index].object) return E_INVALIDARG;
    object = elements_[index].object;
    stored_iid = elements_[index].iid;
  }
  if (iid == stored_iid) {
    *out = object.Detach();
    return S_OK;
  }
  return object->QueryInterface(iid, out);
}

STDMETHODIMP CObjectList::Append(REFIID iid, IUnknown* object) {
  if (object == nullptr) return E_POINTER;
  Element element{{}, iid, object};
  return Insert(std::nullopt, &element);
}

STDMETHODIMP CObjectList::InsertAt(UINT index, REFIID iid, IUnknown* object) {
  if (object == nullptr) return E_POINTER;
  Element element{{}, iid, object};
  return Insert(index, &element);
}

STDMETHODIMP CObjectList::RemoveAt(UINT index) {
  Element removed;  // released after the lock, when this function returns
  base::CAutoLock lock(lock_);
  if (index >= elements_.size()) return E_INVALIDARG;
  removed = std::move(elements_[index]);
  elements_.erase(elements_.begin() + index);
  return S_OK;
}

}  // namespace Util
