// A complete small host of libbrowserstorage.so: loads the library, creates a storage service,
// opens the user preferences of a profile folder given on the command line, stores and reads
// one value, and shuts the service down (the final sync writes the file).
//
//   host_example LIBRARY FOLDER
//
// Built with the project (docs/examples/) and, against an installed copy, by the packaging
// test through find_package(BrowserStorage).
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "browserplatform/atlbase.h"
#include "browserplatform/stringapiset.h"
#include "browserstorage/key_value_storage.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/shared_objects.h"
#include "browserstorage/storage_service.h"

namespace {

std::u16string Wide(const std::string& utf8) {
  std::u16string out(utf8.size(), u'\0');
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                       out.data(), static_cast<int>(out.size()));
  out.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return out;
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "host_example: %s (0x%08X)\n", what, static_cast<unsigned>(hr));
  return 1;
}

// Everything COM lives in here, so that every reference is released before the library goes.
int UseStorage(decltype(&DllGetClassObject) get_class_object, const std::string& folder) {
  // 1. The service, through its class object.
  ATL::CComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(CLSID_CStorageService, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return Fail("no class object", hr);
  ATL::CComPtr<IStorageServiceEx> service;
  hr = factory->CreateInstance(nullptr, IID_IStorageServiceEx, service.ReceiveVoid());
  if (FAILED(hr)) return Fail("no service", hr);

  // 2. Kind 3: no data folder of the library's own; the file name given below is the path.
  hr = service->Initialize(Storage::kDataLocationNone, 0, nullptr);
  if (FAILED(hr)) return Fail("not initialised", hr);

  // 3. A configuration naming the file, and the storage asked for by its identifier.
  ATL::CComPtr<IClassFactory> config_factory;
  ATL::CComPtr<IStorageConfig> config;
  get_class_object(CLSID_CCoStorageConfig, IID_IClassFactory, config_factory.ReceiveVoid());
  if (!config_factory ||
      FAILED(config_factory->CreateInstance(nullptr, IID_IStorageConfig, config.ReceiveVoid()))) {
    return Fail("no configuration", E_FAIL);
  }
  const std::u16string file = Wide(folder + "/userpref_v2");
  config->SetFileName(file.c_str());
  ATL::CComPtr<IUnknown> unknown;
  hr = service->GetStorage(Storage::kUserPrefStorageId, config, unknown.Receive());
  if (FAILED(hr)) return Fail("no storage", hr);
  ATL::CComPtr<IKeyValueStorage> prefs;
  hr = unknown.QueryInterface(prefs.Receive());
  if (FAILED(hr)) return Fail("not a key-value storage", hr);

  // 4. Values are value objects from the object factory; keys are BSTRs the caller keeps.
  ATL::CComPtr<IValueObject> value;
  Util::Com::CreateObjectByIID(IID_IValueObject, value.ReceiveVoid());
  const char kHome[] = "https://example.org/";
  value->SetBuffer(reinterpret_cast<const BYTE*>(kHome), sizeof(kHome) - 1);
  ATL::CComBSTR key(u"browser.startup.homepage");
  hr = prefs->SetValue(key, value);
  if (FAILED(hr)) return Fail("value not stored", hr);

  ATL::CComPtr<IValueObject> read;
  Util::Com::CreateObjectByIID(IID_IValueObject, read.ReceiveVoid());
  hr = prefs->GetValue(key, read);
  const BYTE* bytes = nullptr;
  ULONG size = 0;
  read->GetBuffer(&bytes);
  read->GetSize(&size);
  if (FAILED(hr) || size != sizeof(kHome) - 1 || std::memcmp(bytes, kHome, size) != 0) {
    return Fail("value not read back", hr);
  }
  std::printf("%.*s\n", static_cast<int>(size), reinterpret_cast<const char*>(bytes));

  // 5. Shutdown: the final sync writes the file on this thread; the storage answers E_FAIL
  // from now on.
  service->UnInitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: host_example LIBRARY FOLDER\n");
    return 2;
  }
  void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "host_example: %s\n", ::dlerror());
    return 1;
  }
  auto get_class_object =
      reinterpret_cast<decltype(&DllGetClassObject)>(::dlsym(library, "DllGetClassObject"));
  if (get_class_object == nullptr) return Fail("no DllGetClassObject", E_FAIL);
  const int result = UseStorage(get_class_object, argv[2]);
  // The library stays loaded: its sync threads have ended, but unloading a library whose
  // objects a host might still hold is never worth the risk. DllCanUnloadNow says when it
  // would be safe.
  return result;
}
