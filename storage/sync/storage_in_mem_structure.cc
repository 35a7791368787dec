#include "storage/sync/storage_in_mem_structure.h"

#include <utility>

#include "storage/sync/storage_config_base.h"
#include "storage/sync/storage_sync_base.h"

namespace Storage {

CStorageInMemStructure::CStorageInMemStructure() = default;

CStorageInMemStructure::~CStorageInMemStructure() { RunFinalSync(); }

void CStorageInMemStructure::SetSynchroniser(base::scoped_refptr<CStorageSyncBase> sync) {
  sync_ = std::move(sync);
}

void CStorageInMemStructure::CreateSynchroniser(CStorageConfigBase* config,
                                                CStorageSyncManager* sync_manager,
                                                CStorageSyncTimer* sync_timer, BSTR name) {
  base::scoped_refptr<CStorageSyncBase> sync;
  CStorageSyncBase::create(sync, config->GetFilePath().c_str(), config->GetStorageType(),
                           config->GetSyncKind(), config->GetCacheKind(), this, sync_manager,
                           sync_timer, config->GetImportOnCreate(), name, config->GetWriteMode());
  SetSynchroniser(std::move(sync));
}

void CStorageInMemStructure::RunFinalSync() {
  if (!sync_) return;
  sync_->scheduleFinalSync();
  sync_->DetachOwner();
  sync_.reset();
}

}  // namespace Storage
