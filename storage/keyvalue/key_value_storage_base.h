// Storage::CKeyValueStorageBase: the key-value storage COM object (IKeyValueStorage,
// IStorageInfo; contracts in browserstorage/key_value_storage.h). It checks arguments, turns
// BSTR keys into cache keys, maps the cache's answers to HRESULTs and forwards every call to
// the cache it is attached to.
//
// Thread safety: any thread. Each call takes its own reference to the cache and works
// without a lock (CAttachedStructure), so a call in progress keeps the cache it started with.
#pragma once

#include <string>

#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/key_value_storage.h"
#include "storage/keyvalue/key_value_storage_cache_base.h"
#include "storage/sync/attached_structure.h"
#include "storage/sync/storage_base.h"

namespace Storage {

class CKeyValueStorageBase : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                             public IKeyValueStorage,
                             public CStorageBase,
                             public IStorageInfo {
 public:
  BEGIN_COM_MAP(CKeyValueStorageBase)
  COM_INTERFACE_ENTRY(IKeyValueStorage)
  COM_INTERFACE_ENTRY(IStorageInfo)
  END_COM_MAP()

  CKeyValueStorageBase() = default;
  CKeyValueStorageBase(const CKeyValueStorageBase&) = delete;
  CKeyValueStorageBase& operator=(const CKeyValueStorageBase&) = delete;

  // IKeyValueStorage.
  STDMETHODIMP GetCount(ULONG* count) override;                   // slot 3
  STDMETHODIMP GetValue(BSTR key, IValueObject* value) override;  // slot 4
  STDMETHODIMP SetValue(BSTR key, IValueObject* value) override;  // slot 5
  STDMETHODIMP RemoveValue(BSTR key) override;                    // slot 6
  STDMETHODIMP Clear() override;                                  // slot 7
  STDMETHODIMP HasKey(BSTR key, BOOL* exists) override;           // slot 8
  STDMETHODIMP GetAllKeys(IObjectList* keys) override;            // slot 9
  // Behind IKeyValueStorage's slots.
  virtual ~CKeyValueStorageBase() = default;

  // CStorageBase. `structure` must be a key-value cache.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) override;
  HRESULT Detach() override;

  // IStorageInfo.
  STDMETHODIMP IsImportFailed(ULONG* failed) override;      // slot 3
  STDMETHODIMP IsImportFinished(ULONG* finished) override;  // slot 4

 private:
  base::scoped_refptr<CKeyValueStorageCacheBase> cache() { return cache_.get(); }

  CAttachedStructure<CKeyValueStorageCacheBase> cache_;
};

}  // namespace Storage
