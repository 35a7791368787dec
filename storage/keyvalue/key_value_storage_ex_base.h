// Storage::CKeyValueStorageExBase: the key-value-ex storage COM object (IKeyValueStorageEx,
// IStorageInfo; contracts in browserstorage/key_value_storage.h). It checks arguments, turns
// BSTR keys into cache keys, maps the cache's answers to HRESULTs and forwards every call to
// the cache it is attached to.
//
// Thread safety: any thread. Each call takes its own reference to the cache and works
// without a lock (CAttachedStructure), so a call in progress keeps the cache it started with.
#pragma once

#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/key_value_storage.h"
#include "storage/keyvalue/key_value_storage_ex_cache_base.h"
#include "storage/sync/attached_structure.h"
#include "storage/sync/storage_base.h"

namespace Storage {

class CKeyValueStorageExBase : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                               public IKeyValueStorageEx,
                               public CStorageBase,
                               public IStorageInfo {
 public:
  // IKeyValueStorageEx's identifier is IKeyValueStorage's: a caller asking for either gets
  // this table.
  BEGIN_COM_MAP(CKeyValueStorageExBase)
  COM_INTERFACE_ENTRY(IKeyValueStorageEx)
  COM_INTERFACE_ENTRY(IStorageInfo)
  END_COM_MAP()

  CKeyValueStorageExBase() = default;
  CKeyValueStorageExBase(const CKeyValueStorageExBase&) = delete;
  CKeyValueStorageExBase& operator=(const CKeyValueStorageExBase&) = delete;

  // IKeyValueStorageEx.
  // Slot 3. Fills the caller's `value` with the stored text (SetString), so that the caller
  // receives the value; the stored object itself is not handed out.
  STDMETHODIMP GetValue(BSTR key, ITextValue* value) override;
  STDMETHODIMP SetValue(BSTR key, ITextValue* value) override;  // slot 4
  STDMETHODIMP RemoveValue(BSTR key) override;                  // slot 5
  STDMETHODIMP Clear() override;                                // slot 6
  STDMETHODIMP GetAllKeys(IObjectList** out) override;          // slot 7
  STDMETHODIMP GetAllValues(IObjectList** out) override;        // slot 8
  // Behind IKeyValueStorageEx's slots.
  virtual ~CKeyValueStorageExBase() = default;

  // CStorageBase. `structure` must be a key-value-ex cache.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) override;
  HRESULT Detach() override;

  // IStorageInfo.
  STDMETHODIMP IsImportFailed(ULONG* failed) override;      // slot 3
  STDMETHODIMP IsImportFinished(ULONG* finished) override;  // slot 4

 private:
  base::scoped_refptr<CKeyValueStorageExCacheBase> cache() { return cache_.get(); }

  CAttachedStructure<CKeyValueStorageExCacheBase> cache_;
};

}  // namespace Storage
