// CBookmarkItem: the factory's bookmark item. One object serves both faces: IBookmarkItem and
// IBookmarkItemProperty are the same vtable (the property face derives from the read face and
// adds nothing), so QueryInterface for either gives the same pointer.
//
// Thread safety: lock_ guards the properties; Copy takes them in one step.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CBookmarkItem : public IBookmarkItemProperty,
                      public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CBookmarkItem)
  COM_INTERFACE_ENTRY(IBookmarkItem)
  COM_INTERFACE_ENTRY(IBookmarkItemProperty)
  END_COM_MAP()

  CBookmarkItem() = default;
  CBookmarkItem(const CBookmarkItem&) = delete;
  CBookmarkItem& operator=(const CBookmarkItem&) = delete;

  STDMETHODIMP GetId(BSTR* out) override;
  STDMETHODIMP GetTitle(BSTR* out) override;
  STDMETHODIMP SetTitle(BSTR title) override;
  STDMETHODIMP GetParentId(BSTR* out) override;
  STDMETHODIMP GetUrl(BSTR* out) override;
  STDMETHODIMP SetUrl(BSTR url) override;
  STDMETHODIMP GetIconUrl(BSTR* out) override;
  STDMETHODIMP SetIconUrl(BSTR url) override;
  STDMETHODIMP GetNote(BSTR* out) override;
  STDMETHODIMP SetNote(BSTR note) override;
  STDMETHODIMP GetKind(LONGLONG* kind) override;
  STDMETHODIMP GetLastAccessTime(LONGLONG* time) override;
  STDMETHODIMP SetSystemDefault(LONGLONG mark) override;
  STDMETHODIMP GetSystemDefault(LONGLONG* mark) override;
  STDMETHODIMP SetAccessCount(LONG count) override;
  STDMETHODIMP GetAccessCount(LONG* count) override;
  STDMETHODIMP SetTimeAdded(LONGLONG time) override;
  STDMETHODIMP GetTimeAdded(LONGLONG* time) override;
  STDMETHODIMP SetOrigin(LONGLONG origin) override;
  STDMETHODIMP GetOrigin(LONGLONG* origin) override;
  STDMETHODIMP SetId(BSTR id) override;
  STDMETHODIMP SetParentId(BSTR id) override;
  STDMETHODIMP SetSortPosition(LONGLONG position) override;
  STDMETHODIMP SetLastAccessTime(LONGLONG time) override;
  STDMETHODIMP SetKind(LONGLONG kind) override;
  STDMETHODIMP GetSortPosition(LONGLONG* position) override;
  STDMETHODIMP Copy(IBookmarkItem** out) override;

 private:
  struct Properties {
    std::u16string id;
    std::u16string title;
    std::u16string parent_id;
    std::u16string url;
    std::u16string icon_url;
    std::u16string note;
    LONGLONG kind = 0;
    LONGLONG last_access_time = 0;
    LONGLONG system_default = 0;
    LONGLONG time_added = 0;
    LONGLONG origin = 0;
    LONGLONG sort_position = 0;
    LONG access_count = 0;
  };

  HRESULT GetString(std::u16string Properties::*field, BSTR* out);
  HRESULT SetString(std::u16string Properties::*field, BSTR text);
  template <class Number>
  HRESULT GetNumber(Number Properties::*field, Number* out) {
    if (out == nullptr) return E_POINTER;
    base::CAutoLock lock(lock_);
    *out = properties_.*field;
    return S_OK;
  }
  template <class Number>
  HRESULT SetNumber(Number Properties::*field, Number value) {
    base::CAutoLock lock(lock_);
    properties_.*field = value;
    return S_OK;
  }

  base::CLock lock_;
  Properties properties_ GUARDED_BY(lock_);
};

}  // namespace Util
