// Storage::CIconStorageBase: the icon storage COM object (IIconStorage, IStorageInfo; contracts
// in browserstorage/icon_storage.h). It takes ownership of every key BSTR it is handed and frees
// it before returning, checks arguments and forwards every call to the cache it is attached to.
//
// Thread safety: any thread. Each call takes its own reference to the cache and works
// without a lock (CAttachedStructure), so a call in progress keeps the cache it started with.
#pragma once

#include <string>

#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/icon_storage.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/sync/attached_structure.h"
#include "storage/sync/storage_base.h"

namespace Storage {

class CIconStorageBase : public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                         public IIconStorage,
                         public CStorageBase,
                         public IStorageInfo {
 public:
  BEGIN_COM_MAP(CIconStorageBase)
  COM_INTERFACE_ENTRY(IIconStorage)
  COM_INTERFACE_ENTRY(IStorageInfo)
  END_COM_MAP()

  CIconStorageBase() = default;
  CIconStorageBase(const CIconStorageBase&) = delete;
  CIconStorageBase& operator=(const CIconStorageBase&) = delete;

  // IIconStorage. Each frees `key`.
  STDMETHODIMP GetIcon(BSTR key, IIconObject** icon) override;  // slot 3
  STDMETHODIMP SetIcon(BSTR key, IIconObject* icon) override;   // slot 4
  STDMETHODIMP HasIcon(BSTR key, BOOL* exists) override;        // slot 5
  // Behind IIconStorage's slots.
  virtual ~CIconStorageBase() = default;

  // CStorageBase. `structure` must be an icon cache.
  HRESULT Attach(CStorageConfigBase* config, CStorageInMemStructure* structure) override;
  HRESULT Detach() override;

  // IStorageInfo.
  STDMETHODIMP IsImportFailed(ULONG* failed) override;      // slot 3
  STDMETHODIMP IsImportFinished(ULONG* finished) override;  // slot 4

 private:
  base::scoped_refptr<CIconStorageCacheBase> cache() { return cache_.get(); }

  CAttachedStructure<CIconStorageCacheBase> cache_;
};

}  // namespace Storage
