// IUnknown and the standard COM interfaces the system implements.
//
// Interfaces are abstract classes without a virtual destructor; the vtable order is the
// declaration order, so a slot number is the declaration index. Each interface has its IID
// bound with BROWSER_DECLARE_IID and is looked up with uuidof<I>(); an interface without one
// does not compile where its IID is needed. BROWSER_DECLARE_IID is used at global scope,
// where the interfaces themselves are declared.
#pragma once

#include "browserplatform/guid.h"

template <class Interface>
struct InterfaceId;  // specialised for every interface by BROWSER_DECLARE_IID

#define BROWSER_DECLARE_IID(Interface, text)               \
  template <>                                              \
  struct InterfaceId<Interface> {                          \
    static constexpr IID value = platform::MakeGuid(text); \
  }

template <class Interface>
constexpr const IID& uuidof() {
  return InterfaceId<Interface>::value;
}

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
BROWSER_DECLARE_IID(IUnknown, "00000000-0000-0000-C000-000000000046");
inline constexpr const IID& IID_IUnknown = uuidof<IUnknown>();

struct IClassFactory : public IUnknown {
  // Creates an object; with `outer` non-null the object is aggregated and `iid` must be
  // IID_IUnknown (else CLASS_E_NOAGGREGATION).
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  // Holds (TRUE) or releases (FALSE) the module lock that keeps the library loaded.
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};
BROWSER_DECLARE_IID(IClassFactory, "00000001-0000-0000-C000-000000000046");
inline constexpr const IID& IID_IClassFactory = uuidof<IClassFactory>();

struct ITypeInfo;  // no type library exists; only named by IProvideClassInfo

struct IProvideClassInfo : public IUnknown {
  // There is no type library: answers E_NOTIMPL.
  virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** type_info) = 0;
};
BROWSER_DECLARE_IID(IProvideClassInfo, "B196B283-BAB4-101A-B69C-00AA00341D07");
inline constexpr const IID& IID_IProvideClassInfo = uuidof<IProvideClassInfo>();
