// The COM object model every COM class of the system is built on, in the style of ATL.
//
//   class CFoo : public IFoo, public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
//                public ATL::CComCoClass<CFoo, &CLSID_Foo> {
//    public:
//     BEGIN_COM_MAP(CFoo)
//       COM_INTERFACE_ENTRY(IFoo)
//     END_COM_MAP()
//   };
//
// CComObject<CFoo> is the creatable object: an atomic reference count, QueryInterface through
// the interface map, deleted at the last Release. CComAggObject<CFoo> is the same class
// aggregated into an outer object: its own (non-delegating) IUnknown controls its lifetime,
// every interface of the map delegates IUnknown to the outer object. Every live object holds
// its library's module lock, which DllCanUnloadNow reads.
//
// Thread safety: reference counts change atomically; the rest is the class's own business.
#pragma once

#include <atomic>
#include <limits>
#include <new>

#include "browserplatform/unknwn.h"

namespace ATL {

// The lock count behind DllCanUnloadNow: live objects plus LockServer(TRUE) calls.
class CAtlModule {
 public:
  LONG Lock() { return ++lock_count_; }
  LONG Unlock() { return --lock_count_; }
  LONG GetLockCount() const { return lock_count_.load(); }

 private:
  std::atomic<LONG> lock_count_{0};
};

// One module object per shared library: libraries build with hidden visibility, so each
// library that includes this header gets its own instance of this function's static.
inline CAtlModule& GetModule() {
  static CAtlModule module;
  return module;
}

class CComMultiThreadModel {};

// The count an object carries while it is destroyed (LONG is 32-bit here, unlike C long).
inline constexpr LONG kDestructingRefCount = -(std::numeric_limits<LONG>::max() / 2);

// One interface of a class: its IID and how to reach it from a pointer to the class.
struct _ATL_INTMAP_ENTRY {
  const IID* piid;
  IUnknown* (*cast)(void* object);
};

template <class Interface, class Class>
IUnknown* CastToInterface(void* object) {
  return static_cast<Interface*>(static_cast<Class*>(object));
}

class CComObjectRootBase {
 public:
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  void SetVoid(void*) {}
  void InternalFinalConstructAddRef() {}
  void InternalFinalConstructRelease() {}

  // Answers from an interface map: IID_IUnknown gives the first entry, as in ATL.
  static HRESULT InternalQueryInterface(void* object, const _ATL_INTMAP_ENTRY* entries, REFIID iid,
                                        void** result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (object == nullptr || entries == nullptr || entries->piid == nullptr) return E_UNEXPECTED;
    if (iid == IID_IUnknown) {
      IUnknown* unknown = entries->cast(object);
      unknown->AddRef();
      *result = unknown;
      return S_OK;
    }
    for (const _ATL_INTMAP_ENTRY* e = entries; e->piid != nullptr; ++e) {
      if (*e->piid == iid) {
        IUnknown* unknown = e->cast(object);
        unknown->AddRef();
        *result = unknown;
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }

  // Aggregation: the controlling unknown of a contained object.
  ULONG OuterAddRef() { return outer_unknown_->AddRef(); }
  ULONG OuterRelease() { return outer_unknown_->Release(); }
  HRESULT OuterQueryInterface(REFIID iid, void** result) {
    return outer_unknown_->QueryInterface(iid, result);
  }

 protected:
  std::atomic<LONG> m_dwRef{0};
  IUnknown* outer_unknown_ = nullptr;  // not owned: the outer object owns us
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
 public:
  ULONG InternalAddRef() { return static_cast<ULONG>(++m_dwRef); }
  ULONG InternalRelease() { return static_cast<ULONG>(--m_dwRef); }
};

#define BEGIN_COM_MAP(Class)                                               \
 public:                                                                   \
  using _ComMapClass = Class;                                              \
  IUnknown* GetUnknown() { return _GetEntries()->cast(this); }             \
  HRESULT _InternalQueryInterface(REFIID iid, void** result) {             \
    return this->InternalQueryInterface(this, _GetEntries(), iid, result); \
  }                                                                        \
  static const ATL::_ATL_INTMAP_ENTRY* _GetEntries() {                     \
    static const ATL::_ATL_INTMAP_ENTRY entries[] = {
#define COM_INTERFACE_ENTRY(Interface) \
  {&uuidof<Interface>(), &ATL::CastToInterface<Interface, _ComMapClass>},
#define COM_INTERFACE_ENTRY_IID(iid, Interface) \
  {&(iid), &ATL::CastToInterface<Interface, _ComMapClass>},
// An interface reached through an intermediate base (ambiguous IUnknown paths).
#define COM_INTERFACE_ENTRY2(Interface, Via) \
  {&uuidof<Interface>(), &ATL::CastToInterface<Via, _ComMapClass>},
#define END_COM_MAP()  \
  { nullptr, nullptr } \
  }                    \
  ;                    \
  return entries;      \
  }

// A standalone object of class Base. It holds its library's module lock while it lives, unless
// kLocksModule is false: class factories handed out by DllGetClassObject must not keep the
// library loaded by themselves (CComObjectNoLock).
template <class Base, bool kLocksModule>
class CComObjectImpl final : public Base {
 public:
  explicit CComObjectImpl(void* = nullptr) {
    if constexpr (kLocksModule) GetModule().Lock();
  }
  ~CComObjectImpl() {
    // Keeps AddRef/Release pairs inside FinalRelease from deleting us a second time.
    this->m_dwRef = kDestructingRefCount;
    this->FinalRelease();
    if constexpr (kLocksModule) GetModule().Unlock();
  }
  CComObjectImpl(const CComObjectImpl&) = delete;
  CComObjectImpl& operator=(const CComObjectImpl&) = delete;

  STDMETHODIMP_(ULONG) AddRef() override { return this->InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG count = this->InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
    return this->_InternalQueryInterface(iid, result);
  }

  // A new object with a reference count of 0 (the caller adds the first reference), after a
  // successful FinalConstruct.
  static HRESULT CreateInstance(CComObjectImpl** result);
};

template <class Base>
using CComObject = CComObjectImpl<Base, true>;
template <class Base>
using CComObjectNoLock = CComObjectImpl<Base, false>;

// Base inside an aggregate: its IUnknown delegates to the outer object.
template <class Base>
class CComContainedObject final : public Base {
 public:
  explicit CComContainedObject(void* outer) {
    this->outer_unknown_ = static_cast<IUnknown*>(outer);
  }
  CComContainedObject(const CComContainedObject&) = delete;
  CComContainedObject& operator=(const CComContainedObject&) = delete;

  STDMETHODIMP_(ULONG) AddRef() override { return this->OuterAddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return this->OuterRelease(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
    return this->OuterQueryInterface(iid, result);
  }
};

// The aggregated form of Contained. Its own IUnknown is the non-delegating one that the outer
// object keeps; it answers IID_IUnknown with itself and every other IID from the map.
template <class Contained>
class CComAggObject final : public IUnknown, public CComObjectRootEx<CComMultiThreadModel> {
 public:
  explicit CComAggObject(void* outer) : contained_(outer) { GetModule().Lock(); }
  ~CComAggObject() {
    m_dwRef = kDestructingRefCount;
    contained_.FinalRelease();
    GetModule().Unlock();
  }
  CComAggObject(const CComAggObject&) = delete;
  CComAggObject& operator=(const CComAggObject&) = delete;

  HRESULT FinalConstruct() { return contained_.FinalConstruct(); }
  void SetVoid(void* pv) { contained_.SetVoid(pv); }

  STDMETHODIMP_(ULONG) AddRef() override { return InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG count = InternalRelease();
    if (count == 0) delete this;
    return count;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (iid == IID_IUnknown) {
      *result = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return contained_._InternalQueryInterface(iid, result);
  }

 private:
  CComContainedObject<Contained> contained_;
};

// Creates T1(pv), runs FinalConstruct and answers `iid`. A failing FinalConstruct or
// QueryInterface destroys the object and is answered with *result null; any success of
// FinalConstruct (S_FALSE too) goes on, as in CComObjectImpl::CreateInstance.
template <class T1>
class CComCreator {
 public:
  static HRESULT CreateInstance(void* pv, REFIID iid, void** result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    T1* object = new (std::nothrow) T1(pv);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->SetVoid(pv);
    object->InternalFinalConstructAddRef();
    HRESULT hr = object->FinalConstruct();
    object->InternalFinalConstructRelease();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, result);
    if (FAILED(hr)) delete object;
    return hr;
  }
};

// Picks the plain creator without an outer object and the aggregating one with it.
template <class Plain, class Aggregated>
class CComCreator2 {
 public:
  static HRESULT CreateInstance(void* outer, REFIID iid, void** result) {
    return outer == nullptr ? Plain::CreateInstance(nullptr, iid, result)
                            : Aggregated::CreateInstance(outer, iid, result);
  }
};

template <HRESULT hr>
class CComFailCreator {
 public:
  static HRESULT CreateInstance(void*, REFIID, void** result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    return hr;
  }
};

template <class Base, bool kLocksModule>
HRESULT CComObjectImpl<Base, kLocksModule>::CreateInstance(CComObjectImpl** result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  auto* object = new (std::nothrow) CComObjectImpl();
  if (object == nullptr) return E_OUTOFMEMORY;
  object->SetVoid(nullptr);
  object->InternalFinalConstructAddRef();
  HRESULT hr = object->FinalConstruct();
  object->InternalFinalConstructRelease();
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  *result = object;
  return hr;
}

#define DECLARE_AGGREGATABLE(Class)                                                 \
 public:                                                                            \
  using _CreatorClass = ATL::CComCreator2<ATL::CComCreator<ATL::CComObject<Class>>, \
                                          ATL::CComCreator<ATL::CComAggObject<Class>>>;
#define DECLARE_NOT_AGGREGATABLE(Class)                                             \
 public:                                                                            \
  using _CreatorClass = ATL::CComCreator2<ATL::CComCreator<ATL::CComObject<Class>>, \
                                          ATL::CComFailCreator<CLASS_E_NOAGGREGATION>>;

// The class object of a creatable class: creates instances through a creator function.
class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
 public:
  using CreateFunction = HRESULT (*)(void* outer, REFIID iid, void** result);

  BEGIN_COM_MAP(CComClassFactory)
  COM_INTERFACE_ENTRY(IClassFactory)
  END_COM_MAP()

  void SetVoid(void* create) { create_ = reinterpret_cast<CreateFunction>(create); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    // An aggregated object can only be handed to its outer object as its own IUnknown.
    if (outer != nullptr && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    if (create_ == nullptr) return E_UNEXPECTED;
    return create_(outer, iid, result);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      GetModule().Lock();
    } else {
      GetModule().Unlock();
    }
    return S_OK;
  }

 private:
  CreateFunction create_ = nullptr;
};

// Gives a creatable class its CLSID, creator (aggregatable by default) and class factory.
template <class T, const CLSID* pclsid>
class CComCoClass {
 public:
  DECLARE_AGGREGATABLE(T)
  static const CLSID& GetObjectCLSID() { return *pclsid; }

  // A new class factory for T answering `iid`.
  static HRESULT GetClassObject(REFIID iid, void** result) {
    auto create = &T::_CreatorClass::CreateInstance;
    return CComCreator<CComObjectNoLock<CComClassFactory>>::CreateInstance(
        reinterpret_cast<void*>(create), iid, result);
  }
};

// A row of a library's object map: what DllGetClassObject looks classes up in.
struct _ATL_OBJMAP_ENTRY {
  const CLSID* pclsid;
  HRESULT (*get_class_object)(REFIID iid, void** result);
};

#define OBJECT_ENTRY(clsid, Class) \
  { &(clsid), &Class::GetClassObject }

// DllGetClassObject over an object map; CLASS_E_CLASSNOTAVAILABLE for an unknown class.
inline HRESULT AtlGetClassObject(const _ATL_OBJMAP_ENTRY* map, size_t count, REFCLSID clsid,
                                 REFIID iid, void** result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (*map[i].pclsid == clsid) return map[i].get_class_object(iid, result);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

// DllCanUnloadNow over the module lock: S_OK when nothing is alive or locked.
inline HRESULT AtlCanUnloadNow() { return GetModule().GetLockCount() == 0 ? S_OK : S_FALSE; }

}  // namespace ATL
