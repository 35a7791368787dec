// The library's entry points. Windows would also call a DllMain here; nothing needs one: the
// module object has no state to set up (its lock count is an atomic that starts at 0).

#include "browserstorage/storage_service.h"
#include "module/browserstorage_module.h"

namespace {

constinit const CbrowserstorageModule g_module;

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_module.DllGetClassObject(clsid, iid, object);
}

HRESULT DllCanUnloadNow() { return g_module.DllCanUnloadNow(); }

// Class registration comes with the registry file; hosts create the classes through
// DllGetClassObject meanwhile.
HRESULT DllRegisterServer() { return E_NOTIMPL; }
HRESULT DllUnregisterServer() { return E_NOTIMPL; }

INT BrowserStorageMain() { return 0; }
// One function under three names.
extern "C" INT BrowserStorageInit() __attribute__((alias("BrowserStorageMain")));
extern "C" INT BrowserStorageUninit() __attribute__((alias("BrowserStorageMain")));
