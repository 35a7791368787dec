#include "module/browserstorage_module.h"

#include <iterator>
#include <string>

#include "browserplatform/shell.h"
#include "module/registration_scripts.h"
#include "storage/service/co_storage_config.h"
#include "storage/service/storage_service.h"
#include "storage/service/storage_service_factory.h"

namespace {

const ATL::_ATL_OBJMAP_ENTRY kObjectMap[] = {
    OBJECT_ENTRY(CLSID_CStorageService, Storage::CStorageService),
    OBJECT_ENTRY(CLSID_CStorageServiceFactory, Storage::CStorageServiceFactory),
    OBJECT_ENTRY(CLSID_CCoStorageConfig, Storage::CCoStorageConfig),
};

// Long enough for any path Linux hands out (PATH_MAX is 4096 bytes).
constexpr DWORD kMaxModulePath = 32768;

std::u16string GuidText(REFGUID guid) {
  OLECHAR text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

class SectionGuard {
 public:
  explicit SectionGuard(CRITICAL_SECTION* section) : section_(section) {
    EnterCriticalSection(section_);
  }
  ~SectionGuard() { LeaveCriticalSection(section_); }
  SectionGuard(const SectionGuard&) = delete;
  SectionGuard& operator=(const SectionGuard&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

}  // namespace

bool CbrowserstorageModule::Init(HINSTANCE instance) {
  instance_ = instance;
  if (!InitializeCriticalSectionAndSpinCount(&section_, 0)) return false;
  initialized_ = true;
  return true;
}

void CbrowserstorageModule::Term() {
  if (initialized_.exchange(false)) DeleteCriticalSection(&section_);
}

HRESULT CbrowserstorageModule::DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
  if (!initialized_) {
    if (object) *object = nullptr;
    return E_UNEXPECTED;
  }
  return ATL::AtlGetClassObject(kObjectMap, std::size(kObjectMap), clsid, iid, object);
}

HRESULT CbrowserstorageModule::ModulePath(std::u16string* path) const {
  for (DWORD size = MAX_PATH;; size *= 2) {
    path->assign(size, u'\0');
    const DWORD length = GetModuleFileNameW(instance_, path->data(), size);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length < size) {
      path->resize(length);
      return S_OK;
    }
    if (size >= kMaxModulePath) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
}

// Windows registers with the thread locale set to LOCALE_SYSTEM_DEFAULT (2048) so that the
// script's text is not read in the caller's locale; registry text here is UTF-16 in any locale,
// so there is nothing to switch.
HRESULT CbrowserstorageModule::DllRegisterServer() {
  if (!initialized_) return E_UNEXPECTED;
  SectionGuard guard(&section_);
  std::u16string module_path;
  if (HRESULT hr = ModulePath(&module_path); FAILED(hr)) return hr;
  const std::u16string module_guid = GuidText(kAppId);
  if (HRESULT hr = registration::RegisterScript(registration::ModuleScript(module_guid));
      FAILED(hr)) {
    return hr;
  }
  // There is no type library to register with the classes: only their "TypeLib" entries.
  for (const registration::ClassRegistration& row : registration::RegisteredClasses()) {
    HRESULT hr =
        registration::RegisterScript(registration::ClassScript(row, module_path, module_guid));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CbrowserstorageModule::DllUnregisterServer() {
  if (!initialized_) return E_UNEXPECTED;
  SectionGuard guard(&section_);
  const std::u16string module_guid = GuidText(kAppId);
  for (const registration::ClassRegistration& row : registration::RegisteredClasses()) {
    // The module's path only fills values that are removed with their keys.
    HRESULT hr = registration::UnregisterScript(registration::ClassScript(row, u"", module_guid));
    if (FAILED(hr)) return hr;
  }
  return registration::UnregisterScript(registration::ModuleScript(module_guid));
}
