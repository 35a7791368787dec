#include "external/icon_object.h"

#include <exception>

#include "external/bstr_copy.h"

namespace Util {

HRESULT CIconObject::GetText(std::u16string CIconObject::*field, BSTR* out) {
  return CopyStringOut(&lock_, &(this->*field), out);
}

HRESULT CIconObject::SetText(std::u16string CIconObject::*field, BSTR text) {
  return ReplaceString(&lock_, &(this->*field), text);
}

STDMETHODIMP CIconObject::GetData(const BYTE** data) {
  if (data == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *data = data_.empty() ? nullptr : data_.data();
  return S_OK;
}

STDMETHODIMP CIconObject::GetDataLength(INT* length) {
  if (length == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *length = static_cast<INT>(data_.size());
  return S_OK;
}

STDMETHODIMP CIconObject::GetFirstText(BSTR* out) {
  return GetText(&CIconObject::first_text_, out);
}

STDMETHODIMP CIconObject::GetSecondText(BSTR* out) {
  return GetText(&CIconObject::second_text_, out);
}

STDMETHODIMP CIconObject::GetTime(LONGLONG* time) {
  if (time == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *time = time_;
  return S_OK;
}

STDMETHODIMP CIconObject::SetData(const BYTE* data, INT length) {
  if (length < 0 || (data == nullptr && length > 0)) return E_INVALIDARG;
  std::vector<BYTE> copy;
  try {
    copy.assign(data, data + length);
  } catch (const std::exception&) {  // allocation failures only
    return E_OUTOFMEMORY;
  }
  base::CAutoLock lock(lock_);
  data_.swap(copy);
  return S_OK;
}

STDMETHODIMP CIconObject::SetFirstText(BSTR text) {
  return SetText(&CIconObject::first_text_, text);
}

STDMETHODIMP CIconObject::SetTime(LONGLONG time) {
  base::CAutoLock lock(lock_);
  time_ = time;
  return S_OK;
}

STDMETHODIMP CIconObject::SetSecondText(BSTR text) {
  return SetText(&CIconObject::second_text_, text);
}

}  // namespace Util
