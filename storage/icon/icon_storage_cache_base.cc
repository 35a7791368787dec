#include "storage/icon/icon_storage_cache_base.h"

#include "base/trace.h"
#include "storage/icon/icon_storage_limit_memory_cache_base.h"
#include "storage/sync/storage_config_base.h"

namespace Storage {

base::scoped_refptr<CIconStorageCacheBase> CIconStorageCacheBase::create(
    CStorageConfigBase* config, CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer) {
  base::CFunctionTrace trace(u"Storage::CIconStorageCacheBase::create");
  if (config == nullptr || config->GetCacheKind() != kCacheKindMemoryLimited) return nullptr;
  return base::scoped_refptr<CIconStorageCacheBase>(
      new CIconStorageLimitMemoryCacheBase(config, sync_manager, sync_timer));
}

}  // namespace Storage
