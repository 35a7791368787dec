// CObjectList: the factory's IObjectList, an ordered list of strings and object references.
//
// Thread safety: lock_ guards the elements. Under it the list only copies strings and AddRefs
// the objects it holds; every Release and QueryInterface on an element happens after the lock
// is released, so an element whose last reference goes may call back into this list.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CObjectList : public IObjectList, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CObjectList)
  COM_INTERFACE_ENTRY(IObjectList)
  END_COM_MAP()

  CObjectList() = default;
  CObjectList(const CObjectList&) = delete;
  CObjectList& operator=(const CObjectList&) = delete;

  STDMETHODIMP Clone(IObjectList** out) override;
  STDMETHODIMP Count(UINT* count) override;
  STDMETHODIMP GetStringAt(UINT index, BSTR* out) override;
  STDMETHODIMP AppendString(BSTR text) override;
  STDMETHODIMP GetAt(UINT index, REFIID iid, void** out) override;
  STDMETHODIMP Append(REFIID iid, IUnknown* object) override;
  STDMETHODIMP InsertAt(UINT index, REFIID iid, IUnknown* object) override;
  STDMETHODIMP RemoveAt(UINT index) override;

 private:
  // A string element has no object; an object element keeps the identifier it was added with.
  struct Element {
    std::u16string text;
    IID iid{};
    ATL::CComPtr<IUnknown> object;
  };

  // Moves *element in before `index` (the end when `index` is the count or absent). On
  // failure *element keeps its reference, which the caller drops once the lock is released.
  HRESULT Insert(std::optional<UINT> index, Element* element);

  base::CLock lock_;
  std::vector<Element> elements_ GUARDED_BY(lock_);
};

}  // namespace Util
