// Storage::CIconStorageBase: the icon storage COM object (IIconStorage, IStorageInfo; contracts
// in browserstorage/icon_storage.h). It takes ownership of every key BSTR it is handed and frees
// it before returning, checks arguments and forwards every call to the cache it is attached to.
//
// Thread safety: any thread. `lock_` guards only the cache reference: each call takes its own
// reference to the cache under the shared lock and works without it, so Detach (at
// UnInitialize) never waits for a call, and a call in progress keeps the cache it started with.
#pragma once

#include <string>

#include "base/ref_counted.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/icon_storage.h"
#include "storage/icon/icon_storage_cache_base.h"
#include "storage/sync/read_write_lock.h"
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
  base::scoped_refptr<CIconStorageCacheBase> cache();

  CReadWriteLock lock_;
  base::scoped_refptr<CIconStorageCacheBase> cache_ GUARDED_BY(lock_);
};

}  // namespace Storage
