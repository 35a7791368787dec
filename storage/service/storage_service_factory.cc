#include "storage/service/storage_service_factory.h"

#include <new>

#include "base/string_conversions.h"
#include "storage/service/data_path.h"
#include "storage/service/storage_service.h"

namespace Storage {

std::u16string CStorageServiceFactory::BuildServiceKey(int kind, int style, LPCWSTR user_name) {
  std::u16string key;
  switch (kind) {
    case kDataLocationSysData:
      base::AppendFormatW(&key, u"%s/", kSysDataFolder);
      break;
    case kDataLocationUserData:
      if (style == kUserFolderStylePlain) {
        base::AppendFormatW(&key, u"%s/%s/", kUserDataFolder, user_name);
      } else {
        base::AppendFormatW(&key, u"%s/%s%s/", kUserDataFolder, kUserFolderPrefix, user_name);
      }
      break;
    case kDataLocationModuleDir:
      base::AppendFormatW(&key, u"%s/", GetModuleDir().c_str());
      break;
    default:
      break;  // every other kind shares the empty key
  }
  return key;
}

HRESULT CStorageServiceFactory::GetStorageService(int kind, int style, LPCWSTR user_name,
                                                  IStorageServiceEx** out) {
  if (out == nullptr) return E_POINTER;
  // Null on every failure, so that no caller mistakes what it passed in for a service.
  *out = nullptr;
  base::CAutoLock lock(lock_);
  try {
    std::u16string key = BuildServiceKey(kind, style, user_name);
    auto cached = services_.find(key);
    if (cached != services_.end()) return cached->second.CopyTo(out);

    ATL::CComObject<CStorageService>* object = nullptr;
    HRESULT hr = ATL::CComObject<CStorageService>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    ATL::CComPtr<IStorageServiceEx> service(object);
    hr = service->Initialize(kind, style, user_name);
    if (FAILED(hr)) return hr;
    services_.emplace(std::move(key), service);
    *out = service.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CStorageServiceFactory::DoInitService() { return S_OK; }

HRESULT CStorageServiceFactory::DoUninitService() {
  base::CAutoLock lock(lock_);
  for (auto& [key, service] : services_) service->UnInitialize();
  services_.clear();
  return S_OK;
}

}  // namespace Storage
