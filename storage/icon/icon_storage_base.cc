#include "storage/icon/icon_storage_base.h"

#include <new>
#include <utility>

#include "browserplatform/atlbase.h"
#include "browserplatform/oleauto.h"
#include "browserstorage/result_codes.h"

namespace Storage {
namespace {

// Takes a key BSTR the method owns and frees it when the method returns, however it returns.
class OwnedKey {
 public:
  explicit OwnedKey(BSTR key) : key_(key) {}
  ~OwnedKey() { SysFreeString(key_); }
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;

  // The cache key: the text up to the first NUL; the length prefix is not trusted.
  std::u16string Text() const {
    if (key_ == nullptr) return std::u16string();
    try {
      return std::u16string(key_);
    } catch (const std::bad_alloc&) {
      throw CHResultException(E_OUTOFMEMORY);
    }
  }

 private:
  BSTR key_;
};

}  // namespace

HRESULT CIconStorageBase::GetIcon(BSTR key, IIconObject** icon) {
  OwnedKey owned(key);
  const std::u16string cache_key = owned.Text();
  if (cache_key.empty() || icon == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CIconStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->GetValue(cache_key, icon);
}

HRESULT CIconStorageBase::SetIcon(BSTR key, IIconObject* icon) {
  OwnedKey owned(key);
  const std::u16string cache_key = owned.Text();
  if (cache_key.empty() || icon == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CIconStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->SetValue(cache_key, icon);
}

HRESULT CIconStorageBase::HasIcon(BSTR key, BOOL* exists) {
  OwnedKey owned(key);
  const std::u16string cache_key = owned.Text();
  if (cache_key.empty() || exists == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CIconStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  return cache->HasKey(cache_key, exists);
}

HRESULT CIconStorageBase::Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) {
  return cache_.Attach(config, structure);
}

HRESULT CIconStorageBase::Detach() { return cache_.Detach(); }

HRESULT CIconStorageBase::IsImportFailed(ULONG* failed) {
  if (failed == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CIconStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  *failed = static_cast<ULONG>(cache->IsImportFailed());
  return S_OK;
}

HRESULT CIconStorageBase::IsImportFinished(ULONG* finished) {
  if (finished == nullptr) return E_STORAGE_INVALIDARG;
  base::scoped_refptr<CIconStorageCacheBase> cache = this->cache();
  if (!cache) return E_FAIL;
  *finished = static_cast<ULONG>(cache->IsImportFinished());
  return S_OK;
}

}  // namespace Storage
