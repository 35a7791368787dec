#include "storage/extension/extension_storage_file_sync.h"

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/string_conversions.h"
#include "base/trace.h"
#include "storage/extension/extension_storage_model.h"

namespace Storage {
namespace {

constexpr char16_t kLogCategoryExt[] = u"ext;";

}  // namespace

CExtensionStorageFileSync::CExtensionStorageFileSync(std::u16string file_path,
                                                     CExtensionStorageModel* model,
                                                     CStorageSyncManager* sync_manager,
                                                     CStorageSyncTimer* sync_timer)
    : CStorageSyncBase(sync_manager, sync_timer, 1, nullptr),
      file_path_(std::move(file_path)),
      model_(model),
      writer_(model != nullptr ? model->GetWriteMode() : kWriteModePlain) {}

void CExtensionStorageFileSync::performImport() {
  {
    base::CPerformanceTrace trace(u"Storage::CExtensionStorageFileSync::performImport");
    base::CAutoLock guard(lock_);
    if (model_ != nullptr) ImportFile();
  }
  // On every path: the model's callers wait for it.
  SetImported();
}

void CExtensionStorageFileSync::ImportFile() {
  std::string bytes;
  if (!writer_.ReadFromDiskA(file_path_, &bytes)) {
    const DWORD error = GetLastError();
    // A first start has no file yet. One that exists and cannot be read must not be replaced
    // by the empty database.
    if (!CStorageFileWriter::IsMissing(file_path_)) {
      base::Log(base::kLogLevelError, base::kLogCategoryNone,
                u"extension database not readable: %s (%u)", file_path_.c_str(), error);
      writer_.KeepDamagedCopy(file_path_);
    }
    return;
  }
  std::u16string text;
  const bool well_formed = base::UTF8ToWide(bytes, &text);
  // Whatever can be read is loaded; a file the next write would not give back whole is kept.
  const bool whole = model_->DecodeExtensionDb(text);
  if (!well_formed || !whole) {
    base::Log(base::kLogLevelError, base::kLogCategoryNone,
              u"extension database not loaded whole: %s", file_path_.c_str());
    writer_.KeepDamagedCopy(file_path_);
  }
}

void CExtensionStorageFileSync::performSync() {
  // An import still queued on the sync thread needs `lock_`: wait for it first, not under it.
  WaitForImport();
  base::CAutoLock guard(lock_);
  if (model_ == nullptr) return;
  // Only whether something changed matters: the file is always rewritten whole.
  std::vector<PendingChange> changes = TakePendingChanges();
  if (changes.empty()) {
    StopTimer();
    return;
  }
  std::u16string text;
  model_->EncodeExtensionDb(&text);
  base::Log(base::kLogLevelPerformance, kLogCategoryExt, u"ext db will sync");
  // Still dirty after a failed write: the timer's next tick (or the final sync) tries again.
  if (!writer_.WriteToDisk(file_path_, text)) RestorePendingChanges(std::move(changes));
}

int CExtensionStorageFileSync::SyncNow() {
  PostSyncToManager();
  return 0;
}

void CExtensionStorageFileSync::DetachOwner() {
  {
    base::CAutoLock guard(lock_);
    model_ = nullptr;
  }
  CStorageSyncBase::DetachOwner();
}

}  // namespace Storage
