// The three orderings of bookmark items, each a stateless COM object behind IOVCompare:
//   CBookmarkNameComparer    higher kinds first, then titles in the user's collation order;
//   CBookmarkTimeComparer    least recently accessed first;
//   CBookmarkSearchComparer  "ranks lower": fewer visits, then less recently accessed. An item
//                            without IBookmarkItem ranks below every item that has it.
// The name and time comparers answer E_FAIL when either item lacks IBookmarkItem; all three
// answer E_FAIL for a null out-pointer. Any thread.
#pragma once

#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "storage/bookmark/ov_compare.h"

namespace Storage {

class CBookmarkNameComparer : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                              public IOVCompare {
 public:
  BEGIN_COM_MAP(CBookmarkNameComparer)
  COM_INTERFACE_ENTRY(IOVCompare)
  END_COM_MAP()

  STDMETHODIMP Compare(IUnknown* first, IUnknown* second, LONG* before) override;
  virtual ~CBookmarkNameComparer() = default;
};

class CBookmarkTimeComparer : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                              public IOVCompare {
 public:
  BEGIN_COM_MAP(CBookmarkTimeComparer)
  COM_INTERFACE_ENTRY(IOVCompare)
  END_COM_MAP()

  STDMETHODIMP Compare(IUnknown* first, IUnknown* second, LONG* before) override;
  virtual ~CBookmarkTimeComparer() = default;
};

class CBookmarkSearchComparer : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                                public IOVCompare {
 public:
  BEGIN_COM_MAP(CBookmarkSearchComparer)
  COM_INTERFACE_ENTRY(IOVCompare)
  END_COM_MAP()

  STDMETHODIMP Compare(IUnknown* first, IUnknown* second, LONG* before) override;
  virtual ~CBookmarkSearchComparer() = default;
};

// A new comparer of class T (one of the three), or null when it cannot be made.
template <class T>
ATL::CComPtr<IOVCompare> NewComparer() {
  ATL::CComObject<T>* object = nullptr;
  if (FAILED(ATL::CComObject<T>::CreateInstance(&object))) return nullptr;
  return ATL::CComPtr<IOVCompare>(object);
}

}  // namespace Storage
