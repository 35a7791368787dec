#include "external/bookmark_item.h"

#include <exception>
#include <utility>

#include "browserplatform/atlbase.h"
#include "external/bstr_copy.h"
#include "external/new_object.h"

namespace Util {

HRESULT CBookmarkItem::GetString(std::u16string Properties::*field, BSTR* out) {
  return CopyStringOut(&lock_, &(properties_.*field), out);
}

HRESULT CBookmarkItem::SetString(std::u16string Properties::*field, BSTR text) {
  return ReplaceString(&lock_, &(properties_.*field), text);
}

STDMETHODIMP CBookmarkItem::GetId(BSTR* out) { return GetString(&Properties::id, out); }
STDMETHODIMP CBookmarkItem::GetTitle(BSTR* out) { return GetString(&Properties::title, out); }
STDMETHODIMP CBookmarkItem::SetTitle(BSTR title) { return SetString(&Properties::title, title); }
STDMETHODIMP CBookmarkItem::GetParentId(BSTR* out) {
  return GetString(&Properties::parent_id, out);
}
STDMETHODIMP CBookmarkItem::GetUrl(BSTR* out) { return GetString(&Properties::url, out); }
STDMETHODIMP CBookmarkItem::SetUrl(BSTR url) { return SetString(&Properties::url, url); }
STDMETHODIMP CBookmarkItem::GetIconUrl(BSTR* out) { return GetString(&Properties::icon_url, out); }
STDMETHODIMP CBookmarkItem::SetIconUrl(BSTR url) { return SetString(&Properties::icon_url, url); }
STDMETHODIMP CBookmarkItem::GetNote(BSTR* out) { return GetString(&Properties::note, out); }
STDMETHODIMP CBookmarkItem::SetNote(BSTR note) { return SetString(&Properties::note, note); }
STDMETHODIMP CBookmarkItem::SetId(BSTR id) { return SetString(&Properties::id, id); }
STDMETHODIMP CBookmarkItem::SetParentId(BSTR id) { return SetString(&Properties::parent_id, id); }

STDMETHODIMP CBookmarkItem::GetKind(LONGLONG* kind) { return GetNumber(&Properties::kind, kind); }
STDMETHODIMP CBookmarkItem::SetKind(LONGLONG kind) { return SetNumber(&Properties::kind, kind); }
STDMETHODIMP CBookmarkItem::GetLastAccessTime(LONGLONG* time) {
  return GetNumber(&Properties::last_access_time, time);
}
STDMETHODIMP CBookmarkItem::SetLastAccessTime(LONGLONG time) {
  return SetNumber(&Properties::last_access_time, time);
}
STDMETHODIMP CBookmarkItem::GetSystemDefault(LONGLONG* mark) {
  return GetNumber(&Properties::system_default, mark);
}
STDMETHODIMP CBookmarkItem::SetSystemDefault(LONGLONG mark) {
  return SetNumber(&Properties::system_default, mark);
}
STDMETHODIMP CBookmarkItem::GetAccessCount(LONG* count) {
  return GetNumber(&Properties::access_count, count);
}
STDMETHODIMP CBookmarkItem::SetAccessCount(LONG count) {
  return SetNumber(&Properties::access_count, count);
}
STDMETHODIMP CBookmarkItem::GetTimeAdded(LONGLONG* time) {
  return GetNumber(&Properties::time_added, time);
}
STDMETHODIMP CBookmarkItem::SetTimeAdded(LONGLONG time) {
  return SetNumber(&Properties::time_added, time);
}
STDMETHODIMP CBookmarkItem::GetOrigin(LONGLONG* origin) {
  return GetNumber(&Properties::origin, origin);
}
STDMETHODIMP CBookmarkItem::SetOrigin(LONGLONG origin) {
  return SetNumber(&Properties::origin, origin);
}
STDMETHODIMP CBookmarkItem::GetSortPosition(LONGLONG* position) {
  return GetNumber(&Properties::sort_position, position);
}
STDMETHODIMP CBookmarkItem::SetSortPosition(LONGLONG position) {
  return SetNumber(&Properties::sort_position, position);
}

STDMETHODIMP CBookmarkItem::Copy(IBookmarkItem** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ATL::CComPtr<ATL::CComObject<CBookmarkItem>> copy;
  HRESULT hr = NewObject(&copy);
  if (FAILED(hr)) return hr;
  Properties properties;
  try {
    base::CAutoLock lock(lock_);
    properties = properties_;
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  {
    base::CAutoLock lock(copy->lock_);
    copy->properties_ = std::move(properties);
  }
  *out = copy.Detach();
  return S_OK;
}

}  // namespace Util
