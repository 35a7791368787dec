#include "storage/service/co_storage_config.h"

#include <utility>

#include "storage/sync/string_copy.h"

namespace Storage {

HRESULT CCoStorageConfig::GetFileName(BSTR* file_name) {
  base::CAutoLock lock(lock_);
  return CopyOut(file_name_, file_name);
}

HRESULT CCoStorageConfig::SetFileName(LPCWSTR file_name) {
  base::CAutoLock lock(lock_);
  return Store(&file_name_, file_name);
}

HRESULT CCoStorageConfig::GetName(BSTR* name) {
  base::CAutoLock lock(lock_);
  return CopyOut(name_, name);
}

HRESULT CCoStorageConfig::SetName(LPCWSTR name) {
  base::CAutoLock lock(lock_);
  return Store(&name_, name);
}

HRESULT CCoStorageConfig::CopyOut(const ATL::CComBSTR& stored, BSTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = CopyBstrOrThrow(stored.get());
  return S_OK;
}

HRESULT CCoStorageConfig::Store(ATL::CComBSTR* stored, LPCWSTR text) {
  // The string already stored, handed back in, stays as it is.
  if (text == stored->get()) return S_OK;
  *stored = CopyStringOrThrow(text);
  return S_OK;
}

}  // namespace Storage
