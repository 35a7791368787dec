#include "storage/bookmark/bookmark_comparers.h"

#include <string_view>

#include "browserplatform/atlbase.h"
#include "browserplatform/collation.h"
#include "browserstorage/shared_objects.h"

namespace Storage {
namespace {

ATL::CComPtr<IBookmarkItem> ReadFace(IUnknown* object) {
  ATL::CComPtr<IBookmarkItem> item;
  if (object != nullptr) object->QueryInterface(IID_IBookmarkItem, item.ReceiveVoid());
  return item;
}

std::u16string_view Title(const ATL::CComBSTR& title) {
  return std::u16string_view(title.get() ? title.get() : u"", title.Length());
}

}  // namespace

HRESULT CBookmarkNameComparer::Compare(IUnknown* first, IUnknown* second, LONG* before) {
  ATL::CComPtr<IBookmarkItem> a = ReadFace(first);
  ATL::CComPtr<IBookmarkItem> b = ReadFace(second);
  if (!a || !b || before == nullptr) return E_FAIL;
  LONGLONG kind_a = 0;
  LONGLONG kind_b = 0;
  a->GetKind(&kind_a);
  b->GetKind(&kind_b);
  if (kind_a != kind_b) {
    *before = kind_a > kind_b ? 1 : 0;
    return S_OK;
  }
  ATL::CComBSTR title_a;
  ATL::CComBSTR title_b;
  a->GetTitle(title_a.Receive());
  b->GetTitle(title_b.Receive());
  // The user's collation, read per call: no process-wide locale switch around the sort.
  *before = platform::CollationCompare(Title(title_a), Title(title_b)) < 0 ? 1 : 0;
  return S_OK;
}

HRESULT CBookmarkTimeComparer::Compare(IUnknown* first, IUnknown* second, LONG* before) {
  ATL::CComPtr<IBookmarkItem> a = ReadFace(first);
  ATL::CComPtr<IBookmarkItem> b = ReadFace(second);
  if (!a || !b || before == nullptr) return E_FAIL;
  LONGLONG time_a = 0;
  LONGLONG time_b = 0;
  a->GetLastAccessTime(&time_a);
  b->GetLastAccessTime(&time_b);
  *before = time_a < time_b ? 1 : 0;
  return S_OK;
}

HRESULT CBookmarkSearchComparer::Compare(IUnknown* first, IUnknown* second, LONG* before) {
  if (before == nullptr) return E_FAIL;
  ATL::CComPtr<IBookmarkItem> a = ReadFace(first);
  ATL::CComPtr<IBookmarkItem> b = ReadFace(second);
  if (!a || !b) {
    *before = !a && b ? 1 : 0;
    return S_OK;
  }
  LONG count_a = 0;
  LONG count_b = 0;
  a->GetAccessCount(&count_a);
  b->GetAccessCount(&count_b);
  if (count_a != count_b) {
    *before = count_a < count_b ? 1 : 0;
    return S_OK;
  }
  LONGLONG time_a = 0;
  LONGLONG time_b = 0;
  a->GetLastAccessTime(&time_a);
  b->GetLastAccessTime(&time_b);
  *before = time_a < time_b ? 1 : 0;
  return S_OK;
}

}  // namespace Storage
