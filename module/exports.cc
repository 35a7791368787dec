// The library's entry points, and the load-time code that stands in for DllMain.

#include "browserstorage/storage_service.h"
#include "module/browserstorage_module.h"

namespace {

constinit CbrowserstorageModule g_module;

constexpr DWORD kDllProcessDetach = 0;
constexpr DWORD kDllProcessAttach = 1;

// What Windows's loader would call: process attach initialises the module and reports whether
// that worked; detach tears it down.
BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == kDllProcessAttach) return g_module.Init(instance) ? TRUE : FALSE;
  if (reason == kDllProcessDetach) g_module.Term();
  return TRUE;
}

// An address inside this library: what names its file, as a module handle does on Windows.
HINSTANCE ThisLibrary() { return reinterpret_cast<HINSTANCE>(&g_module); }

// The dynamic loader runs these when the library is loaded and unloaded. A constructor cannot
// make dlopen fail the way a FALSE from DllMain fails LoadLibrary: the module remembers the
// failure instead and refuses its class objects (CbrowserstorageModule).
__attribute__((constructor)) void OnLibraryLoad() {
  DllMain(ThisLibrary(), kDllProcessAttach, nullptr);
}
__attribute__((destructor)) void OnLibraryUnload() {
  DllMain(ThisLibrary(), kDllProcessDetach, nullptr);
}

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_module.DllGetClassObject(clsid, iid, object);
}

HRESULT DllCanUnloadNow() { return g_module.DllCanUnloadNow(); }

HRESULT DllRegisterServer() { return g_module.DllRegisterServer(); }
HRESULT DllUnregisterServer() { return g_module.DllUnregisterServer(); }

INT BrowserStorageMain() { return 0; }
// One function under three names.
extern "C" INT BrowserStorageInit() __attribute__((alias("BrowserStorageMain")));
extern "C" INT BrowserStorageUninit() __attribute__((alias("BrowserStorageMain")));
