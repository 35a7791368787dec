#include "external/value_object.h"

#include <cstring>
#include <utility>

#include "browserplatform/combaseapi.h"

namespace Util {

// One per stored key: 40 bytes is what glibc's 48-byte chunk holds.
static_assert(sizeof(ATL::CComObject<CValueObject>) <= 40);

void CValueObject::TaskMemFree::operator()(BYTE* block) const { CoTaskMemFree(block); }

CValueObject::~CValueObject() {
  if (in_block_) CoTaskMemFree(bytes_.block);
}

HRESULT CValueObject::CopyBytes(const BYTE* data, ULONG length, Image* out) {
  out->block.reset();
  out->size = length;
  if (length <= kInlineBytes) {
    if (length > 0) std::memcpy(out->inline_bytes, data, length);
    return S_OK;
  }
  out->block.reset(static_cast<BYTE*>(CoTaskMemAlloc(length)));
  if (!out->block) return E_OUTOFMEMORY;
  std::memcpy(out->block.get(), data, length);
  return S_OK;
}

HRESULT CValueObject::Snapshot(IValueObject* value, Image* out) {
  if (auto* ours = dynamic_cast<CValueObject*>(value)) {
    base::CByteAutoLock lock(ours->lock_);
    return CopyBytes(ours->Data(), ours->size_, out);
  }
  ULONG size = 0;
  const BYTE* bytes = nullptr;
  HRESULT hr = value->GetSize(&size);
  if (SUCCEEDED(hr)) hr = value->GetBuffer(&bytes);
  if (FAILED(hr)) return hr;
  if (size > 0 && bytes == nullptr) return E_UNEXPECTED;
  return CopyBytes(bytes, size, out);
}

const BYTE* CValueObject::Data() const {
  if (in_block_) return bytes_.block;
  return size_ > 0 ? bytes_.inline_bytes : nullptr;
}

void CValueObject::Replace(Image* image) {
  BYTE* incoming = image->block.release();
  base::CByteAutoLock lock(lock_);
  if (in_block_) image->block.reset(bytes_.block);
  in_block_ = incoming != nullptr;
  size_ = image->size;
  if (in_block_) {
    bytes_.block = incoming;
  } else {
    std::memcpy(bytes_.inline_bytes, image->inline_bytes, image->size);
  }
}

STDMETHODIMP CValueObject::GetBuffer(const BYTE** data) {
  if (data == nullptr) return E_POINTER;
  base::CByteAutoLock lock(lock_);
  *data = Data();
  return S_OK;
}

STDMETHODIMP CValueObject::IsEqual(IValueObject* other, BOOL* equal) {
  if (equal == nullptr) return E_POINTER;
  if (other == nullptr) return E_POINTER;
  if (other == static_cast<IValueObject*>(this)) {
    *equal = TRUE;
    return S_OK;
  }
  Image theirs;
  HRESULT hr = Snapshot(other, &theirs);
  if (FAILED(hr)) return hr;
  base::CByteAutoLock lock(lock_);
  *equal = size_ == theirs.size && (size_ == 0 || std::memcmp(Data(), theirs.data(), size_) == 0)
               ? TRUE
               : FALSE;
  return S_OK;
}

STDMETHODIMP CValueObject::AttachBuffer(BYTE* data, ULONG length) {
  if (data == nullptr && length > 0) return E_INVALIDARG;
  // Kept as it is, whatever its size: the caller may look for its block through GetBuffer.
  Image image;
  image.block.reset(data);
  image.size = length;
  Replace(&image);
  return S_OK;
}

STDMETHODIMP CValueObject::GetSize(ULONG* size) {
  if (size == nullptr) return E_POINTER;
  base::CByteAutoLock lock(lock_);
  *size = size_;
  return S_OK;
}

STDMETHODIMP CValueObject::SetBuffer(const BYTE* data, ULONG length) {
  if (data == nullptr && length > 0) return E_INVALIDARG;
  Image image;
  HRESULT hr = CopyBytes(data, length, &image);
  if (FAILED(hr)) return hr;
  Replace(&image);
  return S_OK;
}

STDMETHODIMP CValueObject::CopyFrom(IValueObject* other) {
  if (other == nullptr) return E_POINTER;
  if (other == static_cast<IValueObject*>(this)) return S_OK;
  Image image;
  HRESULT hr = Snapshot(other, &image);
  if (FAILED(hr)) return hr;
  Replace(&image);
  return S_OK;
}

}  // namespace Util
