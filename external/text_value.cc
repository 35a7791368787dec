#include "external/text_value.h"

#include "external/bstr_copy.h"

namespace Util {

STDMETHODIMP CTextValue::GetString(BSTR* out) {
  if (out == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  return NewBstr(text_, out);
}

STDMETHODIMP CTextValue::SetString(BSTR text) {
  std::u16string value;
  HRESULT hr = ReadBstr(text, &value);
  if (FAILED(hr)) return hr;
  base::CAutoLock lock(lock_);
  text_.swap(value);
  return S_OK;
}

}  // namespace Util
