// Storage::CStorageService: the storage service COM object (IStorageServiceEx). Initialised
// for one data location and user, it owns the creater that builds and caches that user's
// storages.
//
// Thread safety: every method may be called from any thread; the service lock serialises
// Initialize, UnInitialize, GetStorage and CreateTempStorage, including the creation of a
// storage (and its synchronous import) inside GetStorage.
#pragma once

#include <string>

#include "base/lock.h"
#include "base/ref_counted.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/storage_service.h"
#include "storage/service/storage_creater.h"
#include "storage/sync/storage_sync_manager.h"
#include "storage/sync/storage_sync_timer.h"

namespace Storage {

class CStorageService : public IStorageServiceEx,
                        public IProvideClassInfo,
                        public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
                        public ATL::CComCoClass<CStorageService, &CLSID_CStorageService> {
 public:
  BEGIN_COM_MAP(CStorageService)
  COM_INTERFACE_ENTRY(IStorageServiceEx)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  END_COM_MAP()

  CStorageService() = default;
  CStorageService(const CStorageService&) = delete;
  CStorageService& operator=(const CStorageService&) = delete;

  // IStorageServiceEx (contracts in browserstorage/storage_service.h).
  STDMETHODIMP GetStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out) override;  // slot 3
  STDMETHODIMP CreateTempStorage(int type, IUnknown** out) override;                     // slot 4
  STDMETHODIMP Initialize(int kind, int style, LPCWSTR user_name) override;              // slot 5
  STDMETHODIMP UnInitialize() override;                                                  // slot 6
  // Behind the interface's slots. Does not uninitialise: storages still attached keep their
  // in-memory structures until their own last release.
  virtual ~CStorageService() = default;

  // IProvideClassInfo: there is no type library.
  STDMETHODIMP GetClassInfo(ITypeInfo** type_info) override { return E_NOTIMPL; }

 private:
  // Members are released in reverse order: data path, user name, lock, sync timer, sync
  // manager, then the creater.
  base::scoped_refptr<CStorageCreater> creater_ GUARDED_BY(lock_);
  base::scoped_refptr<CStorageSyncManager> sync_manager_ GUARDED_BY(lock_);
  base::scoped_refptr<CStorageSyncTimer> sync_timer_ GUARDED_BY(lock_);
  base::CLock lock_;
  int initialized_ GUARDED_BY(lock_) = 0;
  ATL::CComBSTR user_name_ GUARDED_BY(lock_);
  int style_ GUARDED_BY(lock_) = 0;
  int kind_ GUARDED_BY(lock_) = 0;
  // The user's data folder; ends with a separator when it is under the application-data root.
  std::u16string data_path_ GUARDED_BY(lock_);
};

}  // namespace Storage
