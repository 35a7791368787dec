#include "storage/bookmark/bookmark_storage_sync_file.h"

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/trace.h"
#include "browserplatform/clock.h"
#include "browserplatform/fileapi.h"
#include "browserstorage/object_factory.h"
#include "storage/bookmark/bookmark_tree_model.h"
#include "storage/sync/storage_file_writer.h"

namespace Storage {
namespace {

constexpr char16_t kBackupSuffix[] = u".bak";

// Every tree the model holds fits in the file.
static_assert(kMaxTreeDepth == kMaxBookmarkDepth);

}  // namespace

CBookmarkStorageSyncFile::CBookmarkStorageSyncFile(std::u16string file_path,
                                                   CBookmarkTreeModel* model,
                                                   CStorageSyncManager* sync_manager,
                                                   CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      model_(model) {}

bool CBookmarkStorageSyncFile::Load(const std::u16string& path, IObjectList** root) {
  if (coder_.DecodeFromFile(path, root)) return true;
  if (!CStorageFileWriter::IsMissing(path)) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone, u"bookmark file not loaded: %s",
              path.c_str());
    coder_.file_writer()->KeepDamagedCopy(path);
  }
  return false;
}

void CBookmarkStorageSyncFile::performImport() {
  {
    base::CPrecisePerformanceTrace trace(u"Storage::CBookmarkStorageSyncFile::performImport");
    base::CAutoLock guard(lock_);
    if (model_ != nullptr) {
      ATL::CComPtr<IObjectList> root;
      bool loaded = Load(file_path_, root.Receive());
      if (!loaded) {
        keep_backup_ = !CStorageFileWriter::IsMissing(file_path_);
        loaded = Load(file_path_ + kBackupSuffix, root.Receive());
      }
      // The coder builds proper trees only; a refusal would be a fault of ours, not the file's.
      if (loaded && FAILED(model_->SetRoot(root))) loaded = false;
      if (!loaded) {
        model_->SetRoot(nullptr);
        SetImportFailed();
      }
    }
  }
  // On every path: the model's callers wait for it.
  SetImported();
}

void CBookmarkStorageSyncFile::scheduleFinalSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  base::CAutoLock guard(lock_);
  Sync();
}

void CBookmarkStorageSyncFile::performSync() {
  WaitForImport();
  base::CAutoLock guard(lock_);
  Sync();
}

void CBookmarkStorageSyncFile::Sync() {
  // Which changes they were does not matter: the whole file is rewritten.
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty()) {
    StopTimer();
    return;
  }
  if (model_ == nullptr) return;
  if (const DWORD tick = GetTickCount(); tick != last_backup_tick_) {
    if (!keep_backup_) DoBak();
    last_backup_tick_ = GetTickCount();
  }
  ATL::CComPtr<IObjectList> root;
  model_->GetRoot(root.Receive());
  if (!coder_.EncodeToFile(root, file_path_)) {
    // Still dirty: the timer's next tick (or the final sync) tries again.
    RestorePendingChanges(std::move(changes));
    return;
  }
  keep_backup_ = false;
}

BOOL CBookmarkStorageSyncFile::DoBak() {
  base::CPrecisePerformanceTrace trace(u"Storage::CBookmarkStorageSyncFile::DoBak");
  const std::u16string backup = file_path_ + kBackupSuffix;
  return CopyFileW(file_path_.c_str(), backup.c_str(), FALSE);
}

int CBookmarkStorageSyncFile::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CBookmarkStorageSyncFile::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    model_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
