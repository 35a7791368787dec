// Counted COM pointers and owned BSTRs.
#pragma once

#include <utility>

#include "browserplatform/oleauto.h"
#include "browserplatform/unknwn.h"

namespace ATL {

// Owns one reference to a COM object: AddRef when it takes a pointer, Release when it lets
// go. Not thread-safe itself (like any smart pointer); the object's count is.
template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* p) : p_(p) {  // NOLINT(google-explicit-constructor): mirrors raw COM pointers
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p_) {}
  CComPtr(CComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~CComPtr() { Release(); }

  CComPtr& operator=(const CComPtr& other) {
    CComPtr(other).Swap(*this);
    return *this;
  }
  CComPtr& operator=(CComPtr&& other) noexcept {
    CComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  CComPtr& operator=(T* p) {
    CComPtr(p).Swap(*this);
    return *this;
  }

  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  operator T*() const { return p_; }  // NOLINT(google-explicit-constructor)
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Drops the reference held so far and returns the slot for an out parameter.
  T** Receive() {
    Release();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  void Release() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* p) {
    Release();
    p_ = p;
  }
  // Hands the reference to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }

  // A new reference for an out parameter; E_POINTER for null.
  HRESULT CopyTo(T** out) const {
    if (out == nullptr) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }
  template <class Q>
  HRESULT QueryInterface(Q** out) const {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (p_ == nullptr) return E_POINTER;
    return p_->QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(out));
  }

  void Swap(CComPtr& other) noexcept { std::swap(p_, other.p_); }

 private:
  T* p_ = nullptr;
};

// Owns one BSTR (null is the empty string) and frees it with SysFreeString.
class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(const OLECHAR* text) : str_(SysAllocString(text)) {}
  CComBSTR(const OLECHAR* text, UINT length) : str_(SysAllocStringLen(text, length)) {}
  CComBSTR(const CComBSTR& other) : str_(other.Copy()) {}
  CComBSTR(CComBSTR&& other) noexcept : str_(std::exchange(other.str_, nullptr)) {}
  ~CComBSTR() { SysFreeString(str_); }
  CComBSTR& operator=(CComBSTR other) noexcept {
    std::swap(str_, other.str_);
    return *this;
  }

  BSTR get() const { return str_; }
  operator BSTR() const { return str_; }  // NOLINT(google-explicit-constructor)
  UINT Length() const { return SysStringLen(str_); }

  // A new copy for the caller to free; null when empty-null or out of memory.
  BSTR Copy() const { return str_ ? SysAllocStringLen(str_, SysStringLen(str_)) : nullptr; }
  // Frees the string held so far and returns the slot for an out parameter.
  BSTR* Receive() {
    Empty();
    return &str_;
  }
  void Attach(BSTR str) {
    SysFreeString(str_);
    str_ = str;
  }
  BSTR Detach() { return std::exchange(str_, nullptr); }
  void Empty() { SysFreeString(std::exchange(str_, nullptr)); }

 private:
  BSTR str_ = nullptr;
};

}  // namespace ATL
