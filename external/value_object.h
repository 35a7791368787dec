// CValueObject: the factory's IValueObject, an opaque byte image.
//
// A key-value storage keeps one per key, so the object is kept small: a one-byte lock, and the
// bytes of a value of up to kInlineBytes in the object itself; longer values, and any block
// handed over by AttachBuffer, live in a CoTaskMemAlloc block. The object fills one 48-byte
// heap chunk.
//
// Thread safety: lock_ guards the bytes. IsEqual and CopyFrom take a copy of the other value
// first and only then lock this one, so two values compared from two threads in opposite
// directions never wait for each other.
#pragma once

#include <memory>

#include "base/byte_lock.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/shared_objects.h"

namespace Util {

class CValueObject : public IValueObject, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel> {
 public:
  BEGIN_COM_MAP(CValueObject)
  COM_INTERFACE_ENTRY(IValueObject)
  END_COM_MAP()

  static constexpr ULONG kInlineBytes = 8;

  CValueObject() = default;
  ~CValueObject();
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
  using Block = std::unique_ptr<BYTE, TaskMemFree>;

  // A value's bytes outside any object's lock: a block, or up to kInlineBytes in place.
  struct Image {
    Block block;
    BYTE inline_bytes[kInlineBytes];
    ULONG size = 0;
    const BYTE* data() const { return block ? block.get() : inline_bytes; }
  };

  // An image of the `length` bytes at `data`.
  static HRESULT CopyBytes(const BYTE* data, ULONG length, Image* out);
  // A copy of `value`'s bytes made without holding this object's lock. For a value of another
  // implementation it reads GetSize and GetBuffer, which that object must keep steady.
  static HRESULT Snapshot(IValueObject* value, Image* out);
  // Makes `image` the bytes; the block they replace, if any, comes back in image->block, to be
  // freed once the lock is released.
  void Replace(Image* image);
  const BYTE* Data() const EXCLUSIVE_LOCKS_REQUIRED(lock_);

  base::CByteLock lock_;
  bool in_block_ GUARDED_BY(lock_) = false;
  ULONG size_ GUARDED_BY(lock_) = 0;
  union {
    BYTE* block;  // owned, when in_block_
    BYTE inline_bytes[kInlineBytes];
  } bytes_ GUARDED_BY(lock_) = {nullptr};
};

}  // namespace Util
