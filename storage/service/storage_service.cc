#include "storage/service/storage_service.h"

#include <new>

#include "base/trace.h"
#include "storage/service/data_path.h"
#include "storage/sync/string_copy.h"

namespace Storage {

HRESULT CStorageService::Initialize(int kind, int style, LPCWSTR user_name) {
  base::CPerformanceTrace trace(u"Storage::CStorageService::Initialize");
  base::CAutoLock lock(lock_);
  if (initialized_) return S_OK;

  kind_ = kind;
  style_ = style;
  user_name_ = CopyStringOrThrow(user_name);
  try {
    data_path_ = BuildDataPath(kind_, std::u16string_view(), style_, user_name_);

    // New companions each time; the previous ones, if any, go with their last reference. The
    // new creater starts with an empty storage cache.
    sync_manager_ = base::scoped_refptr<CStorageSyncManager>(new CStorageSyncManager());
    sync_timer_ = base::scoped_refptr<CStorageSyncTimer>(new CStorageSyncTimer());
    creater_ = base::scoped_refptr<CStorageCreater>(new CStorageCreater());
    creater_->SetSyncObjects(sync_manager_.get(), sync_timer_.get());
    creater_->SetBasePath(data_path_);
    creater_->LoadStorageRegistry();
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: still uninitialised. What was made already stays until the
    // next Initialize replaces it.
    return E_FAIL;
  }
  initialized_ = 1;
  return S_OK;
}

HRESULT CStorageService::UnInitialize() {
  base::CPerformanceTrace trace(u"Storage::CStorageService::UnInitialize");
  base::CAutoLock lock(lock_);
  if (initialized_) {
    initialized_ = 0;
    // Timers first (waiting for running callbacks), then the sync thread (after the tasks
    // already posted), so that each final sync below is the only writer of its file.
    sync_timer_->Uninit();
    sync_manager_->StopThread();
    // Detaching lets each in-memory structure run its final sync in this thread.
    creater_->ReleaseAllStorages();
  }
  return S_OK;
}

HRESULT CStorageService::GetStorage(LPCWSTR id, IStorageConfig* config, IUnknown** out) {
  base::CAutoLock lock(lock_);
  if (!initialized_) return E_FAIL;
  return creater_->GetStorage(id, config, out);
}

HRESULT CStorageService::CreateTempStorage(int type, IUnknown** out) {
  base::CAutoLock lock(lock_);
  if (!initialized_) return E_FAIL;
  return creater_->CreateTempStorage(type, out);
}

}  // namespace Storage
