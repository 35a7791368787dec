// CValueObject: the factory's IValueObject, an opaque byte image.
//
// Thread safety: lock_ guards the buffer. IsEqual and CopyFrom take a copy of the other value
// first and only then lock this one, so two values compared from two threads in opposite
// directions never wait for each other.
#pragma once

#include <memory>

#include "base/lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CValueObject : public IValueObject, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CValueObject)
  COM_INTERFACE_ENTRY(IValueObject)
  END_COM_MAP()

  CValueObject() = default;
  CValueObject(const CValueObject&) = delete;
  CValueObject& operator=(const CValueObject&) = delete;

  STDMETHODIMP GetBuffer(const BYTE** data) override;
  STDMETHODIMP IsEqual(IValueObject* other, BOOL* equal) override;
  STDMETHODIMP AttachBuffer(BYTE* data, ULONG length) override;
  STDMETHODIMP GetSize(ULONG* size) override;
  STDMETHODIMP SetBuffer(const BYTE* data, ULONG length) override;
  STDMETHODIMP CopyFrom(IValueObject* other) override;

 private:
  struct TaskMemFree {
    void operator()(BYTE* block) const;
  };
  // Blocks from CoTaskMemAlloc, so that attached buffers and copies are freed alike.
  using Buffer = std::unique_ptr<BYTE, TaskMemFree>;

  // A new buffer holding `length` bytes from `data`; null `*out` for length 0.
  static HRESULT CopyBytes(const BYTE* data, ULONG length, Buffer* out);
  // A copy of `value`'s bytes made without holding this object's lock. For a value of another
  // implementation it reads GetSize and GetBuffer, which that object must keep steady.
  static HRESULT Snapshot(IValueObject* value, Buffer* data, ULONG* length);
  // Replaces the bytes; the old buffer is freed after the lock is released.
  void Replace(Buffer data, ULONG length);

  base::CLock lock_;
  Buffer data_ GUARDED_BY(lock_);
  ULONG size_ GUARDED_BY(lock_) = 0;
};

}  // namespace Util
