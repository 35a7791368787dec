#include "storage/keyvalue/key_value_storage_ex_base.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "browserplatform/atlbase.h"
#include "browserstorage/object_factory.h"
#include "browserstorage/result_codes.h"
#include "storage/sync/string_copy.h"

namespace Storage {
namespace {

// The cache key: the text up to the first NUL.
std::u16string KeyOf(BSTR key) {
  if (key == nullptr) return std::u16string();
  try {
    return std::u16string(key);
  } catch (const std::bad_alloc&) {
    throw CHResultException(E_OUTOFMEMORY);
  }
}

// A new list from the object factory in *list: S_OK, or the factory's failure code (whatever
// it handed out released). S_OK with a null list when the factory made none.
HRESULT NewList(ATL::CComPtr<IObjectList>* list) {
  HRESULT result = Util::Com::CreateObjectByIID(IID_IObjectList, list->ReceiveVoid());
  if (result != S_OK) list->Release();
  return result;
}

}  // namespace

HRESULT CKeyValueStorageExBase::GetValue(BSTR key, ITextValue* value) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty() || value == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  ATL::CComPtr<ITextValue> stored = cache->GetValue(cache_key);
  if (!stored) return E_FAIL;
  // The caller's own object (or the stored one, when it passes that) receives the text.
  ATL::CComBSTR text;
  HRESULT result = stored->GetString(text.Receive());
  if (SUCCEEDED(result)) result = value->SetString(text);
  if (FAILED(result)) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"text of %s not copied (hr=0x%X)",
              cache_key.c_str(), static_cast<unsigned>(result));
    return result;
  }
  return S_OK;
}

HRESULT CKeyValueStorageExBase::SetValue(BSTR key, ITextValue* value) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty() || value == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  cache->SetValue(cache_key, value);
  return S_OK;
}

HRESULT CKeyValueStorageExBase::RemoveValue(BSTR key) {
  const std::u16string cache_key = KeyOf(key);
  if (cache_key.empty()) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->RemoveValue(cache_key) ? S_OK : E_FAIL;
}

HRESULT CKeyValueStorageExBase::Clear() {
  if (base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache()) cache->Clear();
  return S_OK;
}

HRESULT CKeyValueStorageExBase::GetAllKeys(IObjectList** out) {
  if (out == nullptr) return E_STORAGE_INVALIDARG;
  ATL::CComPtr<IObjectList> list;
  if (HRESULT result = NewList(&list); result != S_OK || !list) return result;
  if (base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache()) {
    std::vector<std::u16string> keys;
    cache->GetKeys(&keys);
    for (const std::u16string& key : keys) {
      // Keys never hold a NUL (they end at the first one), so the plain copy is whole.
      if (HRESULT appended = list->AppendString(CopyStringOrThrow(key.c_str())); FAILED(appended)) {
        base::Log(base::kLogLevelError, base::kLogCategoryNone, u"key %s not listed (hr=0x%X)",
                  key.c_str(), static_cast<unsigned>(appended));
      }
    }
  }
  *out = list.Detach();
  return S_OK;
}

HRESULT CKeyValueStorageExBase::GetAllValues(IObjectList** out) {
  if (out == nullptr) return E_STORAGE_INVALIDARG;
  ATL::CComPtr<IObjectList> list;
  if (HRESULT result = NewList(&list); result != S_OK || !list) return result;
  if (base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache()) {
    std::vector<ATL::CComPtr<ITextValue>> values;
    cache->GetValues(&values);
    for (const ATL::CComPtr<ITextValue>& value : values) {
      if (!value) continue;
      // Listed under the interface the pointer is, so that GetAt hands it back typed right.
      if (HRESULT appended = list->Append(IID_ITextValue, value.get()); FAILED(appended)) {
        base::Log(base::kLogLevelError, base::kLogCategoryNone, u"value not listed (hr=0x%X)",
                  static_cast<unsigned>(appended));
      }
    }
  }
  *out = list.Detach();
  return S_OK;
}

HRESULT CKeyValueStorageExBase::Attach(CStorageConfigBase* config,
                                       CStorageInMemStructure* structure) {
  return cache_.Attach(config, structure);
}

HRESULT CKeyValueStorageExBase::Detach() { return cache_.Detach(); }

HRESULT CKeyValueStorageExBase::IsImportFailed(ULONG* failed) {
  if (failed == nullptr) return E_STORAGE_INVALIDARG;
  if (base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache()) {
    *failed = static_cast<ULONG>(cache->IsImportFailed());
  }
  return S_OK;
}

HRESULT CKeyValueStorageExBase::IsImportFinished(ULONG* finished) {
  if (finished == nullptr) return E_STORAGE_INVALIDARG;
  if (base::scoped_refptr<CKeyValueStorageExCacheBase> cache = this->cache()) {
    *finished = static_cast<ULONG>(cache->IsImportFinished());
  }
  return S_OK;
}

}  // namespace Storage
