#include "external/extension_record.h"

#include "external/bstr_copy.h"

namespace Util {

HRESULT CExtensionRecord::GetString(std::u16string CExtensionRecord::*field, BSTR* out) {
  return CopyStringOut(&lock_, &(this->*field), out);
}

HRESULT CExtensionRecord::SetString(std::u16string CExtensionRecord::*field, BSTR text) {
  return ReplaceString(&lock_, &(this->*field), text);
}

HRESULT CExtensionRecord::GetInt(INT CExtensionRecord::*field, INT* out) {
  if (out == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *out = this->*field;
  return S_OK;
}

HRESULT CExtensionRecord::SetInt(INT CExtensionRecord::*field, INT value) {
  base::CAutoLock lock(lock_);
  this->*field = value;
  return S_OK;
}

STDMETHODIMP CExtensionRecord::SetExtensionId(BSTR id) {
  return SetString(&CExtensionRecord::extension_id_, id);
}
STDMETHODIMP CExtensionRecord::SetType(INT type) { return SetInt(&CExtensionRecord::type_, type); }
STDMETHODIMP CExtensionRecord::SetState(INT state) {
  return SetInt(&CExtensionRecord::state_, state);
}
STDMETHODIMP CExtensionRecord::SetPath(BSTR path) {
  return SetString(&CExtensionRecord::path_, path);
}
STDMETHODIMP CExtensionRecord::SetManifest(BSTR manifest) {
  return SetString(&CExtensionRecord::manifest_, manifest);
}
STDMETHODIMP CExtensionRecord::GetExtensionId(BSTR* out) {
  return GetString(&CExtensionRecord::extension_id_, out);
}
STDMETHODIMP CExtensionRecord::GetType(INT* type) { return GetInt(&CExtensionRecord::type_, type); }
STDMETHODIMP CExtensionRecord::GetState(INT* state) {
  return GetInt(&CExtensionRecord::state_, state);
}
STDMETHODIMP CExtensionRecord::GetPath(BSTR* out) {
  return GetString(&CExtensionRecord::path_, out);
}
STDMETHODIMP CExtensionRecord::GetManifest(BSTR* out) {
  return GetString(&CExtensionRecord::manifest_, out);
}

}  // namespace Util
