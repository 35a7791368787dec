// Reference counting for the system's non-COM objects.
//
// CRefCountedThreadSafe<T>: the count starts at 0, changes atomically, and the object deletes
// itself through its virtual destructor when Release takes the count from 1 to 0. AddRef and
// Release are virtual, in slots 1 and 2 after the destructor, where subclasses expect them.
// CRefCounted<T> is the single-threaded counterpart (plain increments), for objects that only
// one thread touches at a time.
#pragma once

#include <atomic>
#include <utility>

#include "browserplatform/types.h"

namespace base {

class CRefCountedThreadSafeBase {
 public:
  virtual ~CRefCountedThreadSafeBase() = default;
  CRefCountedThreadSafeBase(const CRefCountedThreadSafeBase&) = delete;
  CRefCountedThreadSafeBase& operator=(const CRefCountedThreadSafeBase&) = delete;

  LONG ref_count_for_testing() const { return ref_count_.load(std::memory_order_acquire); }

 protected:
  CRefCountedThreadSafeBase() = default;

  LONG AddRefImpl() { return ref_count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // The count after the release; 0 means the caller must delete the object.
  LONG ReleaseImpl() { return ref_count_.fetch_add(-1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<LONG> ref_count_{0};
};

// AddRef and Release over a base's counter; the object deletes itself when it reaches 0.
template <class Base>
class CRefCountedMethods : public Base {
 public:
  virtual LONG AddRef() { return this->AddRefImpl(); }
  virtual LONG Release() {
    LONG count = this->ReleaseImpl();
    if (count == 0) delete this;
    return count;
  }

 protected:
  CRefCountedMethods() = default;
};

template <class T>
class CRefCountedThreadSafe : public CRefCountedMethods<CRefCountedThreadSafeBase> {
 protected:
  CRefCountedThreadSafe() = default;
};

class CRefCountedBase {
 public:
  virtual ~CRefCountedBase() = default;
  CRefCountedBase(const CRefCountedBase&) = delete;
  CRefCountedBase& operator=(const CRefCountedBase&) = delete;

 protected:
  CRefCountedBase() = default;
  LONG AddRefImpl() { return ++ref_count_; }
  LONG ReleaseImpl() { return --ref_count_; }

 private:
  LONG ref_count_ = 0;
};

template <class T>
class CRefCounted : public CRefCountedMethods<CRefCountedBase> {
 protected:
  CRefCounted() = default;
};

// Holds one reference to a reference-counted object.
template <class T>
class scoped_refptr {
 public:
  scoped_refptr() = default;
  scoped_refptr(T* p) : p_(p) {  // NOLINT(google-explicit-constructor)
    if (p_) p_->AddRef();
  }
  scoped_refptr(const scoped_refptr& other) : scoped_refptr(other.p_) {}
  scoped_refptr(scoped_refptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~scoped_refptr() {
    if (p_) p_->Release();
  }
  scoped_refptr& operator=(scoped_refptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() { scoped_refptr().swap(*this); }
  void swap(scoped_refptr& other) noexcept { std::swap(p_, other.p_); }

 private:
  T* p_ = nullptr;
};

}  // namespace base
