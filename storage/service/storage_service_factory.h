// Storage::CStorageServiceFactory: keeps one initialised storage service per user data
// location and hands the same service to every caller that names that location.
//
// Thread safety: every method may be called from any thread; the factory lock serialises
// GetStorageService and UninitService. Lock order: the factory lock, then a service's lock.
#pragma once

#include <map>
#include <string>

#include "base/lock.h"
#include "browserplatform/atlbase.h"
#include "browserplatform/atlcom.h"
#include "browserstorage/storage_service.h"

namespace Storage {

class CStorageServiceFactory
    : public IStorageServiceFactory,
      public IProvideClassInfo,
      public ATL::CComObjectRootEx<ATL::CComMultiThreadModel>,
      public ATL::CComCoClass<CStorageServiceFactory, &CLSID_CStorageServiceFactory> {
 public:
  BEGIN_COM_MAP(CStorageServiceFactory)
  COM_INTERFACE_ENTRY(IStorageServiceFactory)
  COM_INTERFACE_ENTRY(IService)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  END_COM_MAP()

  CStorageServiceFactory() = default;
  CStorageServiceFactory(const CStorageServiceFactory&) = delete;
  CStorageServiceFactory& operator=(const CStorageServiceFactory&) = delete;

  // IService and IStorageServiceFactory (contracts in browserstorage/storage_service.h).
  STDMETHODIMP InitService() override { return DoInitService(); }      // slot 3
  STDMETHODIMP UninitService() override { return DoUninitService(); }  // slot 4
  STDMETHODIMP GetStorageService(int kind, int style, LPCWSTR user_name,
                                 IStorageServiceEx** out) override;  // slot 5
  // Slot 6. Drops the cached services without uninitialising them.
  virtual ~CStorageServiceFactory() = default;

  // IProvideClassInfo: there is no type library.
  STDMETHODIMP GetClassInfo(ITypeInfo** type_info) override { return E_NOTIMPL; }

  // The cache key of a user data location: its folder relative to the application-data root,
  // with the raw user name instead of its hexadecimal form ("SysData/", "UserData/<user>/",
  // "UserData/<prefix><user>/", "<executable folder>/", or "" for every other kind).
  static std::u16string BuildServiceKey(int kind, int style, LPCWSTR user_name);

 protected:
  // Slots 7 and 8, behind the destructor. Under the Itanium ABI these are entries 9 and 10: the
  // destructor takes entries 6 and 7, and GetClassInfo, which overrides a secondary base, gets
  // entry 8 of this vtable as well.
  // Nothing to set up: S_OK.
  virtual HRESULT DoInitService();
  // UnInitialize on every cached service, in key order, then forgets them all. S_OK.
  virtual HRESULT DoUninitService();

 private:
  base::CLock lock_;
  std::map<std::u16string, ATL::CComPtr<IStorageServiceEx>> services_ GUARDED_BY(lock_);
};

}  // namespace Storage
