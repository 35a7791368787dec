// CbrowserstorageModule: the library's module object. It knows the library's creatable classes
// (the object map behind DllGetClassObject), its identity (AppID and type-library identifier),
// how it registers them, and, through the COM object model, its lock count (live objects plus
// LockServer locks), which decides whether the host may unload it.
//
// Start-up: the library's load-time code calls Init once before any entry point can be reached,
// and Term when the library is unloaded. A module whose Init failed stays loaded (a load-time
// constructor cannot make dlopen fail) but refuses its class objects and registration with
// E_UNEXPECTED, which tells a host to let it go.
//
// Thread safety: any thread once Init has run; the lock count changes atomically, and the
// module's critical section serialises registration and unregistration.
#pragma once

#include <atomic>

#include "browserplatform/atlcom.h"
#include "browserplatform/synchapi.h"

class CbrowserstorageModule {
 public:
  // The AppID, which is also the type library's identifier.
  static constexpr GUID kAppId = platform::MakeGuid("0B529038-75EA-4DA6-873E-8BADCD89B303");

  constexpr CbrowserstorageModule() = default;
  CbrowserstorageModule(const CbrowserstorageModule&) = delete;
  CbrowserstorageModule& operator=(const CbrowserstorageModule&) = delete;

  // Process attach: `instance` is an address inside the library, which names its file.
  // Initialises the module's critical section; false when that fails.
  bool Init(HINSTANCE instance);
  // Process detach.
  void Term();

  // The class object of a creatable class; CLASS_E_CLASSNOTAVAILABLE for any other CLSID,
  // E_UNEXPECTED when Init failed.
  HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
  // S_OK when the lock count is 0, else S_FALSE.
  HRESULT DllCanUnloadNow() const { return ATL::AtlCanUnloadNow(); }
  LONG GetLockCount() const { return ATL::GetModule().GetLockCount(); }

  // Writes the module's AppID entries, then each class's entries, under HKEY_CLASSES_ROOT, with
  // this library's file as the classes' in-process server. Returns the first failing step's
  // HRESULT (HRESULT_FROM_WIN32 of a registry error), running no later step. Registering again
  // writes the same entries.
  HRESULT DllRegisterServer();
  // Removes the classes' entries, then the module's. Entries already gone count as removed, so
  // unregistering an unregistered library gives S_OK.
  HRESULT DllUnregisterServer();

 private:
  // The library's file, or the failure's HRESULT.
  HRESULT ModulePath(std::u16string* path) const;

  HINSTANCE instance_ = nullptr;
  std::atomic<bool> initialized_{false};
  CRITICAL_SECTION section_{};  // registration's lock, live while initialized_
};
