// CTextValue: the factory's ITextValue, one string.
//
// Thread safety: lock_ guards the string.
#pragma once

#include <string>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CTextValue : public ITextValue, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CTextValue)
  COM_INTERFACE_ENTRY(ITextValue)
  END_COM_MAP()

  CTextValue() = default;
  CTextValue(const CTextValue&) = delete;
  CTextValue& operator=(const CTextValue&) = delete;

  STDMETHODIMP GetString(BSTR* out) override;
  STDMETHODIMP SetString(BSTR text) override;

 private:
  base::CLock lock_;
  std::u16string text_ GUARDED_BY(lock_);
};

}  // namespace Util
