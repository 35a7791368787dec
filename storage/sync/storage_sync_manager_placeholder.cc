// Temporary stand-in so that this branch links: the sync manager has no thread here, so every
// post fails and synchronisers fall back to their final sync.
#include "storage/sync/storage_sync_manager.h"

namespace Storage {

class CStorageSyncThread : public base::CRefCountedThreadSafe<CStorageSyncThread> {};

CStorageSyncManager::CStorageSyncManager() = default;
CStorageSyncManager::~CStorageSyncManager() = default;
BOOL CStorageSyncManager::EnsureThread() { return started_; }
BOOL CStorageSyncManager::PostImport(CStorageSyncBase* sync) { return FALSE; }
BOOL CStorageSyncManager::PostSync(CStorageSyncBase* sync) { return FALSE; }
BOOL CStorageSyncManager::StopThread() { return FALSE; }
BOOL CStorageSyncManager::Post(CStorageSyncBase* sync, void (CStorageSyncBase::*operation)()) {
  return FALSE;
}

}  // namespace Storage
