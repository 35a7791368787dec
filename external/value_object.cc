#include "external/value_object.h"

#include <cstring>
#include <utility>

#include "browserplatform/combaseapi.h"

namespace Util {

void CValueObject::TaskMemFree::operator()(BYTE* block) const { CoTaskMemFree(block); }

HRESULT CValueObject::CopyBytes(const BYTE* data, ULONG length, Buffer* out) {
  out->reset();
  if (length == 0) return S_OK;
  Buffer copy(static_cast<BYTE*>(CoTaskMemAlloc(length)));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy.get(), data, length);
  *out = std::move(copy);
  return S_OK;
}

HRESULT CValueObject::Snapshot(IValueObject* value, Buffer* data, ULONG* length) {
  if (auto* ours = dynamic_cast<CValueObject*>(value)) {
    base::CAutoLock lock(ours->lock_);
    *length = ours->size_;
    return CopyBytes(ours->data_.get(), ours->size_, data);
  }
  ULONG size = 0;
  const BYTE* bytes = nullptr;
  HRESULT hr = value->GetSize(&size);
  if (SUCCEEDED(hr)) hr = value->GetBuffer(&bytes);
  if (FAILED(hr)) return hr;
  if (size > 0 && bytes == nullptr) return E_UNEXPECTED;
  *length = size;
  return CopyBytes(bytes, size, data);
}

void CValueObject::Replace(Buffer data, ULONG length) {
  {
    base::CAutoLock lock(lock_);
    data_.swap(data);
    size_ = length;
  }
}

STDMETHODIMP CValueObject::GetBuffer(const BYTE** data) {
  if (data == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *data = data_.get();
  return S_OK;
}

STDMETHODIMP CValueObject::IsEqual(IValueObject* other, BOOL* equal) {
  if (equal == nullptr) return E_POINTER;
  if (other == nullptr) return E_POINTER;
  if (other == static_cast<IValueObject*>(this)) {
    *equal = TRUE;
    return S_OK;
  }
  Buffer theirs;
  ULONG their_size = 0;
  HRESULT hr = Snapshot(other, &theirs, &their_size);
  if (FAILED(hr)) return hr;
  base::CAutoLock lock(lock_);
  *equal = size_ == their_size && (size_ == 0 || std::memcmp(data_.get(), theirs.get(), size_) == 0)
               ? TRUE
               : FALSE;
  return S_OK;
}

STDMETHODIMP CValueObject::AttachBuffer(BYTE* data, ULONG length) {
  if (data == nullptr && length > 0) return E_INVALIDARG;
  Replace(Buffer(data), length);
  return S_OK;
}

STDMETHODIMP CValueObject::GetSize(ULONG* size) {
  if (size == nullptr) return E_POINTER;
  base::CAutoLock lock(lock_);
  *size = size_;
  return S_OK;
}

STDMETHODIMP CValueObject::SetBuffer(const BYTE* data, ULONG length) {
  if (data == nullptr && length > 0) return E_INVALIDARG;
  Buffer copy;
  HRESULT hr = CopyBytes(data, length, &copy);
  if (FAILED(hr)) return hr;
  Replace(std::move(copy), length);
  return S_OK;
}

STDMETHODIMP CValueObject::CopyFrom(IValueObject* other) {
  if (other == nullptr) return E_POINTER;
  if (other == static_cast<IValueObject*>(this)) return S_OK;
  Buffer copy;
  ULONG length = 0;
  HRESULT hr = Snapshot(other, &copy, &length);
  if (FAILED(hr)) return hr;
  Replace(std::move(copy), length);
  return S_OK;
}

}  // namespace Util
