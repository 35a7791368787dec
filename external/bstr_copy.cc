#include "external/bstr_copy.h"

#include <exception>

#include "browserplatform/oleauto.h"

namespace Util {

HRESULT ReadBstr(BSTR text, std::u16string* out) noexcept {
  try {
    out->assign(text == nullptr ? u"" : text, SysStringLen(text));
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT NewBstr(std::u16string_view text, BSTR* out) noexcept {
  if (out == nullptr) return E_POINTER;
  // BSTR lengths are 32-bit; a longer string cannot be handed out.
  if (text.size() > 0x7FFFFFFFu / sizeof(OLECHAR)) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CopyStringOut(base::CLock* lock, const std::u16string* field, BSTR* out) noexcept {
  if (out == nullptr) return E_POINTER;
  base::CAutoLock guard(*lock);
  return NewBstr(*field, out);
}

HRESULT ReplaceString(base::CLock* lock, std::u16string* field, BSTR text) noexcept {
  std::u16string value;
  HRESULT hr = ReadBstr(text, &value);
  if (FAILED(hr)) return hr;
  base::CAutoLock guard(*lock);
  field->swap(value);
  return S_OK;
}

}  // namespace Util
