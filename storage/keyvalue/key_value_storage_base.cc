#include "storage/keyvalue/key_value_storage_base.h"

#include <new>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/string_copy.h"

namespace Storage {
namespace {

// The cache key: the text up to the first NUL; the BSTR's length prefix is not read, so a plain
// string passed as a key is safe too.
std::u16string KeyOf(BSTR key) {
  if (key == nullptr) return std::u16string();
  try {
    return std::u16string(key);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
}

}  // namespace

HRESULT CKeyValueStorageBase::GetCount(ULONG* count) {
  if (count == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  *count = cache->GetCount();
  return S_OK;
}

HRESULT CKeyValueStorageBase::GetValue(BSTR key, IValueObject* value) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty() || value == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  ATL::CComPtr<IValueObject> stored = cache->GetValue(cache_key);
  if (!stored) return E_FAIL;
  if (HRESULT copied = value->CopyFrom(stored); FAILED(copied)) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"value of %s not copied (hr=0x%X)",
              cache_key.c_str(), static_cast<unsigned>(copied));
  }
  return S_OK;
}

HRESULT CKeyValueStorageBase::SetValue(BSTR key, IValueObject* value) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty() || value == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->SetValue(cache_key, value) ? S_OK : E_FAIL;
}

HRESULT CKeyValueStorageBase::RemoveValue(BSTR key) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty()) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->RemoveValue(cache_key) ? S_OK : E_FAIL;
}

HRESULT CKeyValueStorageBase::Clear() {
  if (base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache()) cache->Clear();
  return S_OK;
}

HRESULT CKeyValueStorageBase::HasKey(BSTR key, BOOL* exists) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty() || exists == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  *exists = cache->HasKey(cache_key) ? 1 : 0;
  return S_OK;
}

HRESULT CKeyValueStorageBase::GetAllKeys(IObjectList* keys) {
  if (keys == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  std::vector<std::u16string> names;
  cache->GetKeys(&names);
  for (const std::u16string& name : names) {
    // Keys never hold a NUL (they end at the first one), so the plain copy is whole.
    if (HRESULT appended = keys->AppendString(CopyStringOrThrow(name.c_str())); FAILED(appended)) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone, u"key %s not listed (hr=0x%X)",
                name.c_str(), static_cast<unsigned>(appended));
    }
  }
  return S_OK;
}

HRESULT CKeyValueStorageBase::Attach(CStorageConfigBase* config,
                                     CStorageInMemStructure* structure) {
  return cache_.Attach(config, structure);
}

HRESULT CKeyValueStorageBase::Detach() { return cache_.Detach(); }

HRESULT CKeyValueStorageBase::IsImportFailed(ULONG* failed) {
  if (failed == nullptr) return E_STORAGE_INVALIDARG;
  if (base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache()) {
    *failed = static_cast<ULONG>(cache->IsImportFailed());
  }
  return S_OK;
}

HRESULT CKeyValueStorageBase::IsImportFinished(ULONG* finished) {
  if (finished == nullptr) return E_STORAGE_INVALIDARG;
  if (base::scoped_refptr<CKeyValueStorageCacheBase> cache = this->cache()) {
    *finished = static_cast<ULONG>(cache->IsImportFinished());
  }
  return S_OK;
}

}  // namespace Storage
