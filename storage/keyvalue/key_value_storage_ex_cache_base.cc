#include "storage/keyvalue/key_value_storage_ex_cache_base.h"

#include "base/trace.h"
#include "storage/keyvalue/key_value_storage_ex_full_cache_base.h"
#include "storage/sync/storage_config_base.h"

namespace Storage {

base::scoped_refptr<CKeyValueStorageExCacheBase> CKeyValueStorageExCacheBase::create(
    CStorageConfigBase* config, CStorageSyncManager* sync_manager, CStorageSyncTimer* sync_timer) {
  base::CFunctionTrace trace(u"Storage::CKeyValueStorageExCacheBase::create");
  if (config == nullptr || config->GetCacheKind() != kCacheKindFull) return nullptr;
  return base::scoped_refptr<CKeyValueStorageExCacheBase>(
      new CKeyValueStorageExFullCacheBase(config, sync_manager, sync_timer));
}

}  // namespace Storage
