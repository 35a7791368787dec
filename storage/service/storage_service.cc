#include "storage/service/storage_service.h"

#include "base/trace.h"
#include "storage/service/data_path.h"
#include "storage/service/string_copy.h"

namespace Storage {

HRESULT CStorageService::Initialize(int kind, int style, LPCWSTR user_name) {
  base::CPerformanceTrace trace(u"Storage::CStorageService::Initialize");
  base::CAutoLock lock(lock_);
  if (initialized_) return S_OK;

  kind_ = kind;
  style_ = style;
  user_name_ = CopyStringOrThrow(user_name);
  data_path_ = BuildDataPath(kind_, std::u16string_view(), style_, user_name_);

  // A new creater starts with an empty storage cache; the previous one, if any, goes with its
  // last reference.
  creater_ = base::scoped_refptr<CStorageCreater>(new CStorageCreater());
  creater_->SetBasePath(data_path_);
  creater_->LoadStorageRegistry();
  initialized_ = 1;
  return S_OK;
}

HRESULT CStorageService::UnInitialize() {
  base::CPerformanceTrace trace(u"Storage::CStorageService::UnInitialize");
  base::CAutoLock lock(lock_);
  if (initialized_) {
    initialized_ = 0;
    // Detaching lets each in-memory structure run its final sync in this thread; nothing else
    // may write the storages' files by then.
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
