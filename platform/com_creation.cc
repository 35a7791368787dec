// CLSIDFromProgID and CoCreateInstance over the registry's HKEY_CLASSES_ROOT, with the table of
// libraries they load.
#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "browserplatform/combaseapi.h"
#include "browserplatform/winreg.h"
#include "platform/com_init.h"
#include "platform/no_destructor.h"
#include "platform/path.h"
#include "platform/registry_store.h"

namespace platform {
namespace {

using GetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using CanUnloadNowFunction = HRESULT (*)();

// A library loaded for CoCreateInstance, unloaded when the last holder lets it go.
class LoadedLibrary {
 public:
  LoadedLibrary(void* handle, GetClassObjectFunction get_class_object,
                CanUnloadNowFunction can_unload_now)
      : handle_(handle), get_class_object_(get_class_object), can_unload_now_(can_unload_now) {}
  ~LoadedLibrary() { ::dlclose(handle_); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return get_class_object_(clsid, iid, object);
  }
  // A library without DllCanUnloadNow is never unloaded, as on Windows.
  bool CanUnloadNow() const { return can_unload_now_ && can_unload_now_() == S_OK; }

 private:
  void* const handle_;
  const GetClassObjectFunction get_class_object_;
  const CanUnloadNowFunction can_unload_now_;
};

// The libraries loaded so far, by the path they were registered with. A library stays loaded
// for the rest of the process (objects it made may be alive anywhere, and only it knows), unless
// its start-up failed: then it made nothing and is let go.
class LibraryTable {
 public:
  HRESULT Get(const std::string& path, std::shared_ptr<LoadedLibrary>* library) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = libraries_.find(path);
      if (it != libraries_.end()) {
        *library = it->second;
        return S_OK;
      }
    }
    // Loaded outside the lock: a library's constructors may run for a while, and must not
    // block other threads' creations. A thread that loads the same library meanwhile only
    // adds a count to the loader's.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return CO_E_DLLNOTFOUND;
    auto get_class_object =
        reinterpret_cast<GetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
    if (!get_class_object) {
      ::dlclose(handle);
      return CO_E_ERRORINDLL;
    }
    auto can_unload_now =
        reinterpret_cast<CanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
    auto loaded = std::make_shared<LoadedLibrary>(handle, get_class_object, can_unload_now);
    std::lock_guard<std::mutex> guard(lock_);
    *library = libraries_.try_emplace(path, std::move(loaded)).first->second;
    return S_OK;
  }

  // Forgets `library` when it is still the one loaded for `path` and it agrees to go.
  void Drop(const std::string& path, const std::shared_ptr<LoadedLibrary>& library) {
    std::shared_ptr<LoadedLibrary> dropped;  // unloaded outside the lock
    std::lock_guard<std::mutex> guard(lock_);
    auto it = libraries_.find(path);
    if (it == libraries_.end() || it->second != library || !library->CanUnloadNow()) return;
    dropped = std::move(it->second);
    libraries_.erase(it);
  }

 private:
  std::mutex lock_;
  std::map<std::string, std::shared_ptr<LoadedLibrary>> libraries_;
};

LibraryTable& Libraries() {
  static NoDestructor<LibraryTable> table;
  return *table;
}

// The text of a string value, up to its first NUL; false for other types.
bool ValueText(const RegistryValue* value, std::u16string* text) {
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return false;
  text->clear();
  for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (unit == u'\0') break;
    text->push_back(unit);
  }
  return true;
}

// The default value's text of the key `path` of HKEY_CLASSES_ROOT: S_OK, S_FALSE when the key
// or value is missing or not text, or the registry's error.
HRESULT ReadDefaultText(const std::u16string& path, std::u16string* text) {
  std::string hive_path;
  RegistryHive hive;
  DWORD error = ClassesRootHivePath(&hive_path);
  if (error == ERROR_SUCCESS) error = ReadHive(hive_path, &hive);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  const RegistryKey* key = hive.Find(path);
  return key && ValueText(key->FindValue(u""), text) ? S_OK : S_FALSE;
}

// The file registered as the in-process server of `clsid`.
HRESULT InprocServerPath(REFCLSID clsid, std::string* path) {
  OLECHAR clsid_text[39];
  StringFromGUID2(clsid, clsid_text, 39);
  std::u16string file;
  HRESULT hr =
      ReadDefaultText(u"CLSID\\" + std::u16string(clsid_text) + u"\\InprocServer32", &file);
  if (hr != S_OK) return FAILED(hr) ? hr : REGDB_E_CLASSNOTREG;
  // An empty name would make dlopen hand back the executable.
  if (file.empty() || !NativePath(file.c_str(), path)) return REGDB_E_CLASSNOTREG;
  return S_OK;
}

}  // namespace
}  // namespace platform

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (!progid || !clsid) return E_INVALIDARG;
  if (!platform::IsValidRegistryKeyName(progid)) return CO_E_CLASSSTRING;
  std::u16string text;
  HRESULT hr = platform::ReadDefaultText(std::u16string(progid) + u"\\CLSID", &text);
  if (FAILED(hr)) return hr;
  if (hr != S_OK || FAILED(CLSIDFromString(text.c_str(), clsid))) return CO_E_CLASSSTRING;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!platform::IsComInitializedOnThread()) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string path;
  if (HRESULT hr = platform::InprocServerPath(clsid, &path); FAILED(hr)) return hr;
  std::shared_ptr<platform::LoadedLibrary> library;
  if (HRESULT hr = platform::Libraries().Get(path, &library); FAILED(hr)) return hr;

  IClassFactory* factory = nullptr;
  HRESULT hr =
      library->GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr) || !factory) {
    // The library's start-up failed: it is of no use loaded, and a later load starts it again.
    if (hr == E_UNEXPECTED) platform::Libraries().Drop(path, library);
    return FAILED(hr) ? hr : E_UNEXPECTED;
  }
  hr = factory->CreateInstance(outer, iid, object);
  factory->Release();
  if (FAILED(hr)) *object = nullptr;
  return hr;
}
