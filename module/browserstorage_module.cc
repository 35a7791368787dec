#include "module/browserstorage_module.h"

#include <iterator>

#include "storage/service/co_storage_config.h"
#include "storage/service/storage_service.h"
#include "storage/service/storage_service_factory.h"

namespace {

const ATL::_ATL_OBJMAP_ENTRY kObjectMap[] = {
    OBJECT_ENTRY(CLSID_CStorageService, Storage::CStorageService),
    OBJECT_ENTRY(CLSID_CStorageServiceFactory, Storage::CStorageServiceFactory),
    OBJECT_ENTRY(CLSID_CCoStorageConfig, Storage::CCoStorageConfig),
};

}  // namespace

HRESULT CbrowserstorageModule::DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
  return ATL::AtlGetClassObject(kObjectMap, std::size(kObjectMap), clsid, iid, object);
}
