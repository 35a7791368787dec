// CbrowserstorageModule: the library's module object. It knows the library's creatable classes
// (the object map behind DllGetClassObject), its identity (AppID and type-library identifier)
// and, through the COM object model, its lock count (live objects plus LockServer locks),
// which decides whether the host may unload it.
//
// Thread safety: any thread; the lock count changes atomically.
#pragma once

#include "browserplatform/atlcom.h"

class CbrowserstorageModule {
 public:
  // The AppID, which is also the type library's identifier.
  static constexpr GUID kAppId = platform::MakeGuid("0B529038-75EA-4DA6-873E-8BADCD89B303");

  // The class object of a creatable class; CLASS_E_CLASSNOTAVAILABLE for any other CLSID.
  HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
  // S_OK when the lock count is 0, else S_FALSE.
  HRESULT DllCanUnloadNow() const { return ATL::AtlCanUnloadNow(); }
  LONG GetLockCount() const { return ATL::GetModule().GetLockCount(); }
};
